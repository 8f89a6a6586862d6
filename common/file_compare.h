// Whether two files hold the same bytes.
#pragma once

// False when either cannot be read whole, or they differ anywhere.
bool SameFileBytes(const wchar_t* a, const wchar_t* b);
