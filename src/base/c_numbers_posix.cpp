// POSIX: a C numeric locale made once per use and set with uselocale, which affects
// this thread alone.
#include <locale.h>

#include "base/c_numbers.h"

namespace velmora {

CNumbersOnThisThread::CNumbersOnThisThread() {
    // The thread's locale with its numeric part replaced: dates and the rest stay.
    const locale_t base = duplocale(uselocale(locale_t{}));
    if (base == locale_t{}) return;  // out of memory: the numbers stay as they were
    const locale_t c = newlocale(LC_NUMERIC_MASK, "C", base);
    if (c == locale_t{}) {
        freelocale(base);
        return;
    }
    own_ = c;
    previous_ = uselocale(c);
}

CNumbersOnThisThread::~CNumbersOnThisThread() {
    if (!own_) return;
    uselocale(static_cast<locale_t>(previous_));
    freelocale(static_cast<locale_t>(own_));
}

}  // namespace velmora
