// Linked into every test program that runs vexel-dl or opens the window:
// the process gets a data folder of its own, so that the library the
// programs keep goes there, never into the user's, and no test sees the
// records of another.
#include <cstdlib>  // mkdtemp, setenv
#include <filesystem>
#include <string>
#include <system_error>

namespace {

class PrivateDataHome {
 public:
  PrivateDataHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vexel-data-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
      ::setenv("XDG_DATA_HOME", path_.c_str(), 1);
    }
  }
  ~PrivateDataHome() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  PrivateDataHome(const PrivateDataHome&) = delete;
  PrivateDataHome& operator=(const PrivateDataHome&) = delete;
  PrivateDataHome(PrivateDataHome&&) = delete;
  PrivateDataHome& operator=(PrivateDataHome&&) = delete;

 private:
  std::string path_;
};

const PrivateDataHome data_home;

}  // namespace
