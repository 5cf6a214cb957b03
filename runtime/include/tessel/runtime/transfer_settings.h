#pragma once
// The transfer-settings record: twenty words whose layout belongs to the transfer library (ferry).
// The program owns it and fills it before each download; ferry's start command reads it. Both
// sides name its fields from here.
#include "tessel/runtime/value.h"

namespace tessel {

// Fields are numbered from 1 as the transfer library numbers them.
struct TransferSettings {
    Word fields[20];
    Word& field(int n) { return fields[n - 1]; }
    const Word& field(int n) const { return fields[n - 1]; }
};

namespace transfer_field {
// What ferry's start command reads: two texts.
inline constexpr int kAddress = 2;     // the address to fetch
inline constexpr int kTargetPath = 3;  // the file to write it to
// The anonymous login the record starts with.
inline constexpr int kLoginUser = 4;
inline constexpr int kLoginPassword = 5;
// Two numbers a download sets before each start (to kDownloadKind and kDownloadOption). They
// belong to the transfer library's record; this ferry does not read them.
inline constexpr int kKind = 1;
inline constexpr int kOption = 6;
}  // namespace transfer_field

inline constexpr Word kDownloadKind = 4096;
inline constexpr Word kDownloadOption = 5;

}  // namespace tessel
