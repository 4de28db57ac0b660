#pragma once
// Who may change the firewall: asked for every guarded call, before it is served.
#include <sys/types.h>

#include <functional>
#include <string>

#include "firewall/com/status.h"

class Authorizer {
 public:
  // Success when the caller may act, else the refusal (kAccessDenied) and its reason; with
  // the caller's user as the bus daemon knows its connection.
  using Done = std::function<void(const Status& allowed, uid_t uid)>;

  // Whether the caller's user may be asked (a password, say) before the answer: a change the
  // caller asked for may wait for that; deciding what the caller is shown may not.
  enum class Interaction { kAllowed, kNone };

  virtual ~Authorizer() = default;
  // May answer at once or later, on the bus's thread; calls made meanwhile are served.
  // `sender` is the caller's unique bus name: the one thing of the call the bus vouches for.
  virtual void Check(const std::string& sender, const std::string& action, Interaction interaction, Done done) = 0;
};
