#pragma once

namespace flutter {

// A plugin's lifetime is tied to its registrar's: the registrar owns it.
class Plugin {
 public:
  virtual ~Plugin() = default;
};

}  // namespace flutter
