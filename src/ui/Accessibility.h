#pragma once
// What screen readers are told about the controls of a form. The captions
// are the forms' own: a button, check box, group box or tab page is called
// by its caption, an edit or a value display by the caption of the label
// that has it as its buddy (set in the .ui). Each form adds one table for
// what its captions do not say: the names of panels and of controls no label
// names, and descriptions where a caption alone is not enough.
#include <QString>
#include <QStringList>

#include <span>
#include <vector>

class QLabel;
class QWidget;

struct RAccessibleText {
    const char* objectName;
    const char* name;         // nullptr: the name the captions give
    const char* description;  // nullptr: none
};

namespace accessibility {

// A caption as it is spoken: the mnemonic marker dropped ("&Read Device" is
// "Read Device", "&&" a plain "&"), runs of blanks made one, ends trimmed.
QString SpokenCaption(const QString& caption);

// The generic pass over `form` and its children, then `texts` on top.
// Returns the object names of `texts` that `form` does not hold, so a
// table that has drifted from its form shows up in the tests.
QStringList NameControls(QWidget* form, std::span<const RAccessibleText> texts);

// Puts `text` on the status line and makes its accessible name follow, with
// a name-change event even when the text is the same as before: two "OK"s
// in a row are two results a screen reader should speak.
void ShowStatusText(QLabel* status, const QString& text);

// The status line's name while it has shown nothing yet.
inline constexpr const char* kIdleStatusName = "Status";

// Enter and keypad Enter press the focused push button of a plain window,
// as they do in dialogs (where Qt does it by itself).
void PressButtonsOnEnter(QWidget* form);

// The control after (or before) the one holding `focus` in `order` that
// takes the focus now: shown, enabled and reached by Tab. The one holding
// the focus is the nearest of it and its ancestors that `order` lists, so
// the tab bar inside a tab widget or the edit inside a spin box count as
// their owner. nullptr when `focus` is outside `order` or nothing qualifies.
QWidget* NextInTabOrder(const std::vector<QWidget*>& order, QWidget* focus, bool forward);

// Labels report what they show as their value once another label names
// them (TLabelAccessible). Idempotent; to be called before the first form is
// built, since the interfaces made before are kept.
void InstallLabelInterface();

}  // namespace accessibility
