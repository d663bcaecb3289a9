// The test IME under several file names, each with a keyboard layout of its
// own: the hook library tells IMEs apart by the letters of the file name
// ImmGetIMEFileNameA reports, so `ime-file` on the real desktop switches the
// target to the layout whose IME file has that name.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tavik::e2e {

// The first is the default every scenario starts on (the simulated
// desktop's default too). The others have the letters the hook library
// looks for at each of the places it looks.
inline constexpr const char* kImeFileNames[] = {
    "TESTIME.IME",   // none of them
    "OAKTEST.IME",   // OAK at the start
    "FJITEST.IME",   // FJI at the start
    "XYZOAK.IME",    // OAK as the 4th to 6th characters
    "ATOKTEST.IME",  // ATOK at the start
    "XATOK.IME",     // ATOK as the 2nd to 5th characters
};

// Why an `ime-file` line cannot be arranged on the real desktop, or null.
const char* ImeFileOnlyInSimulator(bool readable, const std::string& name);

// The part of what ImmGetIMEFileNameA reported after the last backslash:
// Wine reports the path the IME was installed with, Windows the file name.
std::string ImeFilePart(const std::string& reported);

class ImeLayouts {
 public:
  // Copies the IME into the system directory under each name and installs
  // each copy once; the layouts they got are found in the registry on
  // later runs.
  bool Install(const std::string& imePath, std::string& why);

  // The keyboard layout id of the IME file `name`; 0 when not installed.
  uint32_t Layout(const std::string& name) const;
  uint32_t DefaultLayout() const { return Layout(kImeFileNames[0]); }

 private:
  std::vector<std::pair<std::string, uint32_t>> layouts_;
};

}  // namespace tavik::e2e
