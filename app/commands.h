// The switches the program understands and what each one does.
#pragma once

// Runs the first command whose switch equals `argument` exactly (UTF-16 code
// unit by code unit); an unknown switch runs nothing.
void RunCommand(const char16_t* argument);
