#pragma once

namespace lyr::res {

// The program's version resource: file and product version alike.
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;
inline constexpr int kVersionRevision = 0;
inline constexpr int kVersionBuild = 2;
inline constexpr const char* kVersionText = "1.0.0.2";
inline constexpr const char* kProductName = "LyrLogger";

}  // namespace lyr::res
