#include "korinbo/test/scoped_env.h"

#include <cstdlib>

namespace korinbo::test {

ScopedEnv::~ScopedEnv() {
  // Newest first, so that a variable changed twice ends as it was before the first change.
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    if (it->second) {
      ::setenv(it->first.c_str(), it->second->c_str(), 1);
    } else {
      ::unsetenv(it->first.c_str());
    }
  }
}

void ScopedEnv::Remember(const std::string& name) {
  const char* old = std::getenv(name.c_str());
  saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
}

void ScopedEnv::Set(const std::string& name, const std::string& value) {
  Remember(name);
  ::setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnv::Unset(const std::string& name) {
  Remember(name);
  ::unsetenv(name.c_str());
}

}  // namespace korinbo::test
