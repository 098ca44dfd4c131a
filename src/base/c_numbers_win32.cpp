// Windows: the C runtime's locale made per-thread for this thread, its numeric
// part set to "C", and both put back afterwards.
#include <locale.h>

#include "base/c_numbers.h"

namespace velmora {

CNumbersOnThisThread::CNumbersOnThisThread() {
    perThread_ = _configthreadlocale(_ENABLE_PER_THREAD_LOCALE);
    if (const char* numeric = setlocale(LC_NUMERIC, nullptr)) numeric_ = numeric;
    setlocale(LC_NUMERIC, "C");
}

CNumbersOnThisThread::~CNumbersOnThisThread() {
    if (!numeric_.empty()) setlocale(LC_NUMERIC, numeric_.c_str());
    _configthreadlocale(perThread_);
}

}  // namespace velmora
