// The current speaker is process-wide: every test that sets it puts the old one back.
#pragma once
#include "models/user.h"

namespace modelstest {

class UsrGuard {
 public:
  UsrGuard() : saved(vlm::User::usr) {}
  ~UsrGuard() { vlm::User::usr = saved; }
  UsrGuard(const UsrGuard&) = delete;
  UsrGuard& operator=(const UsrGuard&) = delete;

 private:
  vlm::User* saved;
};

}  // namespace modelstest
