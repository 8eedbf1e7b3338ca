#pragma once

// The terminal the program runs in, if any.
namespace Terminal {

// Whether standard output is a terminal.
bool standardOutputIsTerminal();
// Columns of the terminal on standard output; 80 when unknown.
int standardOutputColumns();

} // namespace Terminal
