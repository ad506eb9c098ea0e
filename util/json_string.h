// A text as a JSON string, for the run's record and the status program's
// --json output alike.
#pragma once

#include <string>

// The text quoted and escaped. The tool's texts are bytes of the ANSI code
// page, not UTF-8: a byte above 127 is written as the code point of the same
// value (Latin-1), so the document is valid JSON whatever the machine stored.
std::string JsonString(const std::string& text);
