// The start-up benchmark's peer: the least a Qt Widgets program does to show
// a main window. Given a size (the benchmark passes the program's), the window
// takes it, so that both fill the same number of pixels. Given a text too, the
// window shows it in a label: what drawing any text at all adds to a start.
//
//   empty_window [WIDTH HEIGHT [TEXT]]
#include <QApplication>
#include <QLabel>
#include <QMainWindow>

#include <cstdlib>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    if (argc >= 3)
        window.resize(std::atoi(argv[1]), std::atoi(argv[2]));
    if (argc >= 4)
        window.setCentralWidget(new QLabel(QString::fromLocal8Bit(argv[3])));
    window.show();
    return app.exec();
}
