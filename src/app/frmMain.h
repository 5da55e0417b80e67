#pragma once

#include <QMainWindow>

// The main window: the strip that shows the friends timeline.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
};
