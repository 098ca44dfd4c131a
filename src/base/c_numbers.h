#pragma once
// Numbers printed by a C library (printf's "%g") as the file formats want them,
// with a decimal point, whatever locale the program runs in: the window's toolkit
// takes the user's locale, where a decimal comma would corrupt an XML number. Set
// for the calling thread only, while the object lives. One implementation per
// platform (c_numbers_<platform>.cpp).
#include <string>

namespace velmora {

class CNumbersOnThisThread {
  public:
    CNumbersOnThisThread();
    ~CNumbersOnThisThread();
    CNumbersOnThisThread(const CNumbersOnThisThread&) = delete;
    CNumbersOnThisThread& operator=(const CNumbersOnThisThread&) = delete;

  private:
    // What each platform keeps to restore: POSIX the locale objects, Windows the
    // thread's locale mode and numeric locale name.
    void* own_ = nullptr;
    void* previous_ = nullptr;
    int perThread_ = 0;
    std::string numeric_;
};

}  // namespace velmora
