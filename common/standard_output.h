// One line for the program that started this one, on the standard output it
// gave (a PowerShell script that reads what a run says). A GUI program has
// none unless its caller handed one over; then nothing is written.
#pragma once

// Writes `line` and a line end, as UTF-8, where there is a standard output.
void WriteStandardOutputLine(const wchar_t* line);
