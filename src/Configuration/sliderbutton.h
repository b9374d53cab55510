#pragma once
// The output on/off switch of the Configuration page: an ordinary checkable button whose mouse wheel
// turns the attenuation instead of scrolling the page. GUI thread only.

#include <QPushButton>

class SliderButton : public QPushButton
{
    Q_OBJECT
public:
    explicit SliderButton(QWidget *parent = nullptr);

signals:
    // Classic single-axis wheel delta: positive away from the user, 120 per notch.
    void attenuationChanged(int delta);

protected:
    void wheelEvent(QWheelEvent *event) override;
};
