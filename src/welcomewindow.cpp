#include "welcomewindow.h"
#include "ui_welcomewindow.h"

#include "windowbar.h"

#include <QGraphicsOpacityEffect>
#include <QPixmap>

namespace {
const char *const WELCOME_FRAME_STYLE
    = "#welcomeFrame { background-color : #f0f0f0; border : 1px solid #717171; border-radius : 10px;}";
constexpr qreal LOGO_OPACITY = 0.8;
constexpr qreal PRODUCT_OPACITY = 0.2;
}

welcomewindow::welcomewindow(QWidget *parent, const QString &version, const QString &downloadAddress)
    : QMainWindow(parent)
    , ui(new Ui::WelcomeWindow)
    , versionText(version)
    , downloadAddress(downloadAddress)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Welcome"));
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(size());

    connect(ui->minButton, &QPushButton::clicked, this, &welcomewindow::showMinimized);
    connect(ui->closeButton, &QPushButton::clicked, this, &welcomewindow::close);
    connect(ui->start, &QPushButton::clicked, this, &welcomewindow::emitStartApplication);

    // The form's button style on the bar would otherwise replace the bar's own gradient.
    ui->topFrame->setStyleSheet(QString::fromLatin1(WindowBar::STYLE_SHEET) + ui->topFrame->styleSheet());
    ui->pushButton_4->setEnabled(false);
    ui->welcomeFrame->setStyleSheet(QString::fromLatin1(WELCOME_FRAME_STYLE));
    const int frameTop = ui->topFrame->height() - 1;
    ui->welcomeFrame->setGeometry(0, frameTop, width(), height() - frameTop);
    const int frameW = ui->welcomeFrame->width();
    const int frameH = ui->welcomeFrame->height();

    const QPixmap logo(QStringLiteral(":/welcome/calvora.png"));
    ui->calvora->setPixmap(logo);
    ui->calvora->setGeometry(10, frameH - logo.height() - 10, logo.width(), logo.height());
    auto *logoEffect = new QGraphicsOpacityEffect(ui->calvora);
    logoEffect->setOpacity(LOGO_OPACITY);
    ui->calvora->setGraphicsEffect(logoEffect);

    const QPixmap product(QStringLiteral(":/welcome/Nerio-product.png"));
    ui->Nerioproduct->setPixmap(product);
    ui->Nerioproduct->setGeometry(frameW / 2 - product.width() / 2 + 100, frameH / 2 - product.height() / 2 + 60,
        product.width(), product.height());
    auto *productEffect = new QGraphicsOpacityEffect(ui->Nerioproduct);
    productEffect->setOpacity(PRODUCT_OPACITY);
    ui->Nerioproduct->setGraphicsEffect(productEffect);

    ui->versionText->setFont(QFont(QStringLiteral("Calibri"), 12));
    ui->versionText->setText(QStringLiteral("Software version : ") + versionText);
    if (!downloadAddress.isEmpty())
        ui->versionText->setToolTip(QStringLiteral("Updates: ") + downloadAddress);

    // A start screen answers Enter and Space at once.
    ui->start->setAutoDefault(true);
    ui->start->setDefault(true);
    ui->start->setFocus(Qt::OtherFocusReason);
}

welcomewindow::~welcomewindow()
{
    delete ui;
}

void welcomewindow::emitStartApplication()
{
    emit startApplication();
    close();
}
