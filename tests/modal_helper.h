#pragma once
// Answers a modal dialog from inside its own exec() loop. Showing some window
// types processes events before exec() has started its loop; a dialog closed
// at that moment would leave exec() waiting forever, so wait for the loop.
#include <QApplication>
#include <QThread>
#include <QTimer>
#include <functional>

inline void whenModalShown(std::function<void(QWidget *)> answer)
{
    const int armedLevel = QThread::currentThread()->loopLevel();
    auto *poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, armedLevel, answer] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || QThread::currentThread()->loopLevel() <= armedLevel)
            return;
        poll->stop();
        poll->deleteLater();
        answer(modal);
    });
    poll->start();
}
