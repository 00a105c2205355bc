// The procedure labels of the engine's error-log lines, as the log's readers know them.
#pragma once

namespace jor::procedure {

inline constexpr char Start[] = "Start";                // the start command's checks
inline constexpr char ScanFolder[] = "ScanFolder";      // the walk, the conversion, the run's end
inline constexpr char CorrectImage[] = "CorrectImage";  // an object set aside

}  // namespace jor::procedure
