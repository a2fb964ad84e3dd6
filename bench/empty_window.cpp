// The start-up benchmark's peer: the least a Qt Widgets program does to show
// a main window. Given a size (the benchmark passes the program's), the window
// takes it, so that both fill the same number of pixels.
//
//   empty_window [WIDTH HEIGHT]
#include <QApplication>
#include <QMainWindow>

#include <cstdlib>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    if (argc == 3)
        window.resize(std::atoi(argv[1]), std::atoi(argv[2]));
    window.show();
    return app.exec();
}
