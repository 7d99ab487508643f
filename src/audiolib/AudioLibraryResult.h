#pragma once

// The library's calls leave their result code per thread, for errorCode(): fail() records
// a code and returns false, ok() records success and returns true.
namespace qv::audiolib_result {

bool fail(int code);
bool ok();
int last();

}  // namespace qv::audiolib_result
