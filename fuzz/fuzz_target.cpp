// The libFuzzer side of one target: DMM_FUZZ_ENTRY names its entry function.
#include "FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzEntries::DMM_FUZZ_ENTRY(data, size);
}
