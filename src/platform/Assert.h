#pragma once
// Checked assertions for programming errors: print the failed condition as written and
// stop the program, in release builds too.

namespace qv {
[[noreturn]] void assertionFailed(const char* condition, const char* file, int line,
                                  const char* function);
}

#define QV_ASSERT(condition)                                           \
  do {                                                                 \
    if (!(condition)) [[unlikely]]                                     \
      ::qv::assertionFailed(#condition, __FILE__, __LINE__, __func__); \
  } while (0)

// The same, printing `text` instead of the expression (for checks whose wording is fixed).
#define QV_ASSERT_TEXT(condition, text)                          \
  do {                                                           \
    if (!(condition)) [[unlikely]]                               \
      ::qv::assertionFailed(text, __FILE__, __LINE__, __func__); \
  } while (0)
