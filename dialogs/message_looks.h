#pragma once
/**
 * @file
 * The scale-set pictures of the message dialogs. Each function leaves the
 * widgets as they are when the scale has no picture set.
 */
class QLabel;
class QPushButton;
class Ui_QuestionForm;

/// Logo, Yes/No buttons and the question icon of the two question dialogs.
void applyQuestionImages(Ui_QuestionForm &form);

/// Logo, the OK button and the information icon of the one-button message.
void applyMessageImages(QLabel *logo, QPushButton *okButton, QLabel *icon);
