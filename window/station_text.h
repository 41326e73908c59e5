// Text a person types that goes to the stations' files or database as it is: every character has its
// byte in the stations' code page and none is a control character. Shared by the screens whose edits
// refuse anything else as it is typed or pasted.
#pragma once

class QObject;
class QString;
class QValidator;

bool is_station_text(const QString& text);
// A validator refusing a keystroke or a paste that would make the edit's text anything else.
QValidator* station_text_validator(QObject* parent);
