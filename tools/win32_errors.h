// The Win32 error codes the emulated machine answers with: their winerror.h
// names (for fault rules) and the texts FormatMessage gives for them on an
// English Windows (for sc's failure lines).
#pragma once

#include <string>

#include "platform/win32.h"

namespace machine_tool {

// "ERROR_ACCESS_DENIED" for 5; nullptr for a code not in the table.
const char* ErrorName(DWORD code);
// The system's message for a code, without a line feed.
std::string ErrorMessage(DWORD code);
// The code of a name (case-insensitive); false for an unknown name.
bool ErrorCodeOfName(const std::string& name, DWORD* code);

}  // namespace machine_tool
