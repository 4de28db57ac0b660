#pragma once

#include "framework/win_app.h"

// The skinning library: gives the program's windows the look stored in a skin resource.
// A skin is a Qt style sheet with sections, each headed "[name]"; selecting a skin for a kind
// of window applies the section of that name.

// Starts the library for this process; client names the program that uses it.
BOOL SkinInitialize(HINSTANCE module, const char* client, const void* reserved1, const void* reserved2);
// Loads the skin stored in the module's resources under this name and type.
BOOL SkinLoadFromResource(HINSTANCE module, const char* name, const char* type);
// Applies the loaded skin's section for this kind of window ("Dialog").
BOOL SkinSelectWindowSkin(const char* section);
// Removes the skin and shuts the library down; FALSE when it was not started.
BOOL SkinShutdown();
