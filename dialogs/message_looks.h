#pragma once
/**
 * @file
 * The looks of the message dialogs: the scale-set pictures (left as they are
 * when the scale has no picture set) and the set-up the two questions share.
 */
class QDialog;
class QLabel;
class QRect;
class QPushButton;
class Ui_QuestionForm;

/// Logo, Yes/No buttons and the question icon of the two question dialogs.
void applyQuestionImages(Ui_QuestionForm &form);

/// Logo, the OK button and the information icon of the one-button message.
void applyMessageImages(QLabel *logo, QPushButton *okButton, QLabel *icon);

/**
 * Sets up a question dialog the way both questions look: a splash-type window at
 * the scaled question layout, with @p message and @p logo as its own base
 * rectangles of the message and the logo, its pictures, and "Yes" and "No".
 */
void setUpQuestion(QDialog *dialog, Ui_QuestionForm &form, const QRect &message, const QRect &logo);

/// The scaled top strip by which a question is dragged.
QRect questionTitleStrip();
