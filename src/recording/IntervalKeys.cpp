#include "IntervalKeys.h"

namespace IntervalKeys {

char16_t RecordSITimeKeyPress(char16_t key) {
    if ((key >= u'0' && key <= u'9') || key == 8) return key;
    return 0;
}

}  // namespace IntervalKeys
