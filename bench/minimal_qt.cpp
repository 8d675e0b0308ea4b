// SPDX-License-Identifier: GPL-3.0-or-later

// The floor for start-up: a plain Qt Widgets window of the game's size, with as many child
// elements, timers and menu entries as the game's main window, and nothing else.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle("Minimal");
    auto* view = new QWidget;
    view->setFixedSize(511, 269);
    for (int i = 0; i < 36; ++i) {
        auto* label = new QLabel(QString::number(i), view);
        label->move((i % 12) * 40, (i / 12) * 40);
    }
    window.setCentralWidget(view);
    QMenu* game = window.menuBar()->addMenu("Game");
    for (const char* entry : {"Start", "Stop"})
        game->addAction(entry);
    game->addSeparator();
    game->addAction("Help");
    game->addSeparator();
    game->addAction("Exit");
    window.menuBar()->addMenu("About")->addAction("About");
    QTimer timers[5];
    for (QTimer& t : timers)
        t.setInterval(1000);
    window.show();
    return QApplication::exec();
}
