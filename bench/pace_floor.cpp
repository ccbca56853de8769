// The least a Qt window can cost at a meter's pace: a bare window of the main window's size that
// wakes as the main window does for each reading and changes as little as a reading can change.
//
// Each period it shows a lit link picture and, with --changing, gives one caption a new text;
// --link-out ms later it puts the link picture out again. Nothing is read, decoded, recorded or
// charted, so the CPU this costs (bench_floor.sh measures it) is what the toolkit and the machine
// take for the wakes and the smallest repaints alone: the floor under bench_cpu.sh's figures on
// the same machine.
//
// Usage: pace_floor [--interval ms] [--link-out ms] [--changing]
#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int intervalMs = 333;
    int linkOutMs = 250;
    bool changing = false;
    for (int i = 1; i < argc; ++i) {
        const bool more = i + 1 < argc;
        if (!std::strcmp(argv[i], "--interval") && more) {
            intervalMs = std::stoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--link-out") && more) {
            linkOutMs = std::stoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--changing")) {
            changing = true;
        } else {
            std::fprintf(stderr, "usage: pace_floor [--interval ms] [--link-out ms] [--changing]\n");
            return 2;
        }
    }

    QWidget window;
    window.resize(615, 480);
    QLabel caption(QStringLiteral("0.000"), &window);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(28);
    caption.setFont(font);
    caption.setGeometry(40, 5, 150, 40);
    QPixmap lit(25, 24);
    lit.fill(Qt::green);
    QLabel link(&window);
    link.setAutoFillBackground(true);
    link.setPixmap(lit);
    link.setGeometry(5, 5, 25, 24);
    window.show();

    long reading = 0;
    QTimer out;
    out.setSingleShot(true);
    QObject::connect(&out, &QTimer::timeout, [&] { link.hide(); });
    QTimer pace;
    QObject::connect(&pace, &QTimer::timeout, [&] {
        ++reading;
        if (changing) caption.setText(QString::number(reading % 4000 / 1000.0, 'f', 3));
        link.show();
        out.start(linkOutMs);
    });
    pace.start(intervalMs);
    return app.exec();
}
