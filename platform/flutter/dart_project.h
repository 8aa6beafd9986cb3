#pragma once
// Where the engine finds the Flutter application: the asset folder, the ICU
// data and the compiled Dart code below one folder (relative paths count
// from the executable's folder), and the Dart entry point's arguments.
#include <string>
#include <vector>

namespace flutter {

class DartProject {
 public:
  explicit DartProject(const std::wstring& path)
      : assets_path_(path + kSeparator + L"flutter_assets"),
        icu_data_path_(path + kSeparator + L"icudtl.dat"),
        aot_library_path_(path + kSeparator + L"app.so") {}

  void set_dart_entrypoint_arguments(std::vector<std::string> arguments) {
    dart_entrypoint_arguments_ = std::move(arguments);
  }
  const std::vector<std::string>& dart_entrypoint_arguments() const { return dart_entrypoint_arguments_; }
  const std::wstring& assets_path() const { return assets_path_; }
  const std::wstring& icu_data_path() const { return icu_data_path_; }
  const std::wstring& aot_library_path() const { return aot_library_path_; }

 private:
  // The engine is handed the paths as Windows spells them.
#ifdef _WIN32
  static constexpr const wchar_t* kSeparator = L"\\";
#else
  static constexpr const wchar_t* kSeparator = L"/";
#endif
  std::wstring assets_path_;
  std::wstring icu_data_path_;
  std::wstring aot_library_path_;
  std::vector<std::string> dart_entrypoint_arguments_;
};

}  // namespace flutter
