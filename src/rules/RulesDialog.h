#pragma once

#include <QDialog>
#include <optional>
#include <vector>

#include "RuleForm.h"

class QCheckBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

// "Triggers and alarms…": the rules of a recording (start and stop, pre-trigger, event rows),
// its alarms and program, and an interval summary. The texts are read when OK is pressed; a
// fault is shown under the fields and the dialog stays open. For a bench channel, whose
// recording is the bench's, the recording's fields are left out.
class RulesDialog : public QDialog {
public:
    RulesDialog(const RuleForm& form, std::vector<QString> channels, int ownChannel, bool recording,
                QWidget* parent = nullptr);

    RuleForm form() const;

    // Runs the dialog; the rules accepted, or nothing when cancelled.
    static std::optional<RuleForm> edit(QWidget* parent, const QString& title, const RuleForm& form,
                                        std::vector<QString> channels, int ownChannel, bool recording);

    void accept() override;

private:
    std::vector<QString> channels_;
    int ownChannel_;
    QCheckBox *startAtOn_ = nullptr, *stopAtOn_ = nullptr;
    QDateTimeEdit *startAt_ = nullptr, *stopAt_ = nullptr;
    QLineEdit *startWhen_ = nullptr, *stopWhen_ = nullptr, *for_ = nullptr, *pre_ = nullptr,
              *changes_ = nullptr;
    QSpinBox* rows_ = nullptr;
    QLineEdit *hysteresis_, *hold_, *program_, *summary_, *every_;
    QPlainTextEdit* alarms_;
    QLabel* fault_;
};
