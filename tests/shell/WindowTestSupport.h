#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "AppOptions.h"
#include "TFCOMM.h"

// Closes a modal message box and fails the running test with its text.
inline void failOnBox(QMessageBox* box, const char* why) {
    const QString text = box->text();
    box->done(QDialog::Rejected);
    QTest::qFail(qPrintable(QStringLiteral("%1: \"%2\"").arg(QLatin1String(why), text)), __FILE__, __LINE__);
}

// A message box that a test did not expect stays up only a moment: it is closed and the test
// fails with its text, instead of waiting for the test's time-out.
class UnexpectedBoxes {
public:
    static void watch() { static UnexpectedBoxes boxes; }

private:
    UnexpectedBoxes() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box != seen_) {
                seen_ = box;
                since_.start();
            } else if (box && since_.elapsed() > 1500) {
                failOnBox(box, "unexpected message box");
            }
        });
        timer_.start(50);
    }
    QTimer timer_;
    QPointer<QMessageBox> seen_;
    QElapsedTimer since_;
};

// A main window made from command-line words, as the program would make it.
inline std::unique_ptr<TFCOMM> makeWindow(const std::vector<std::string>& args = {}) {
    const OptionsResult r = parseOptions(args);
    if (!r.error.empty()) qFatal("%s", r.error.c_str());
    UnexpectedBoxes::watch();
    return std::make_unique<TFCOMM>(r.options);
}

// Presses `button` of a message box; a box without that button is closed and fails the test.
inline void answerBox(QMessageBox* box, QMessageBox::StandardButton button) {
    if (QAbstractButton* b = box->button(button)) {
        b->click();
    } else {
        failOnBox(box, "the message box has not the button the test wants");
    }
}

// Answers the next message box with `button`; its text arrives in the returned string.
inline std::shared_ptr<QString> answerNextMessageBox(QMessageBox::StandardButton button = QMessageBox::Ok) {
    auto text = std::make_shared<QString>();
    QTimer::singleShot(0, [text, button] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            *text = box->text();
            answerBox(box, button);
        }
    });
    return text;
}

// Answers every modal message box that opens while it lives, in order, with the given buttons
// (Ok once they run out); their texts are collected.
class BoxAnswers {
public:
    explicit BoxAnswers(std::vector<QMessageBox::StandardButton> answers = {})
        : answers_(std::move(answers)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            texts << box->text();
            QMessageBox::StandardButton b = QMessageBox::Ok;
            if (!answers_.empty()) {
                b = answers_.front();
                answers_.erase(answers_.begin());
            }
            answerBox(box, b);
        });
        timer_.start(5);
    }
    QStringList texts;

private:
    std::vector<QMessageBox::StandardButton> answers_;
    QTimer timer_;
};

// Whether the named control is shown (not hidden by the program; the window itself may be unshown).
inline bool shown(TFCOMM& w, const char* name) {
    auto* widget = w.findChild<QWidget*>(QString::fromLatin1(name));
    if (!widget) qFatal("no widget %s", name);
    return !widget->isHidden();
}
