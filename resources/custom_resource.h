#pragma once

#include <QByteArray>

// A resource of a named type stored in the executable, such as the skin "DEFAULT" of type
// "SKINMAGIC". Empty when there is none.
QByteArray LoadCustomResource(const char* name, const char* type);
