#pragma once
// The recovery modes a volume is read in: the scan request carries one, and the parsers that
// read differently by mode take it in their inputs.

namespace corvello {

enum class RecoveryMode { Standard = 1, Advanced = 2, Deep = 3 };

}  // namespace corvello
