#pragma once
// The "Testing" page (loop adaptation and error injection options). Placeholder until the page lands.

#include <QWidget>

class streamingmisc : public QWidget
{
    Q_OBJECT
public:
    explicit streamingmisc(QWidget *parent = nullptr);
};
