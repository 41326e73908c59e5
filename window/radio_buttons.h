// Auto-exclusive radio buttons refuse to be unchecked while they are the checked one of their group:
// each is released from the group while it is unchecked.
#pragma once

#include <QRadioButton>

#include <initializer_list>

template <typename Buttons> void uncheck_all(const Buttons& buttons) {
    for (QRadioButton* button : buttons) {
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(true);
    }
}

inline void uncheck_all(std::initializer_list<QRadioButton*> buttons) {
    uncheck_all<std::initializer_list<QRadioButton*>>(buttons);
}
