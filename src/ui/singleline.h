#pragma once

class QLineEdit;

namespace vigilor::ui {

// A one-line field whose text ends up in a command, a file line or a datagram takes no line
// break, however the text arrives (typed, pasted, dropped or set by the program): breaks at its
// ends are dropped and each run inside becomes one blank (text::singleLine), in the field
// itself, so the operator sees what will be sent.
void keepOnOneLine(QLineEdit* field);

} // namespace vigilor::ui
