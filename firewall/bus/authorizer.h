#pragma once
// Who may change the firewall: asked for every change, before it is made.
#include <sys/types.h>

#include <functional>
#include <string>

#include "firewall/com/hresult.h"

class Authorizer {
 public:
  // S_OK when the caller may act; otherwise the failure and its reason.
  using Done = std::function<void(HRESULT result, const std::string& reason)>;

  virtual ~Authorizer() = default;
  // May answer at once or later, on the bus's thread; calls made meanwhile are served.
  // `sender` is the caller's unique bus name, `uid` its user.
  virtual void Check(const std::string& sender, uid_t uid, const std::string& action, Done done) = 0;
};
