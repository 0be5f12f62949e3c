// The About box: builds the fixed layout and routes the pointer events of
// the two links and the close picture to their handlers.
#include "About.h"

#include <qdrawutil.h>

#include <QDesktopServices>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QGraphicsDropShadowEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QUrl>
#include <algorithm>
#include <utility>

#include "Dialogs.h"

namespace {

// Dynamic property that keeps a link's target on its control, apart from
// what the control shows.
constexpr char kLinkTarget[] = "linkTarget";

const QColor kLinkHoverColour(0, 0, 255);

QFont boxFont(int pixelSize, bool bold) {
    // Where "MS Sans Serif" is missing, Qt takes the next family.
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"),
                      QFontDatabase::systemFont(QFontDatabase::GeneralFont).family()});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

void setTextColour(QWidget* label, const QColor& colour) {
    QPalette palette = label->palette();
    if (palette.color(QPalette::WindowText) == colour) return;
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

QLabel* addLabel(QWidget* parent, const char* name, const QRect& geometry,
                 const QString& text = {}) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    return label;
}

// The SVG drawn into exactly `size` (stretched if its own size differs),
// sharp at the given device pixel ratio.
QPixmap renderSvg(const QString& path, const QSize& size, qreal ratio) {
    QPixmap pixmap((QSizeF(size) * ratio).toSize());
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(path);
    renderer.setAspectRatioMode(Qt::IgnoreAspectRatio);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(pixmap.size())));
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QString withoutScheme(const QString& address) {
    const qsizetype separator = address.indexOf(QLatin1String("://"));
    return separator < 0 ? address : address.mid(separator + 3);
}

// A click is a left-button release over the control; Qt sends the release
// to the control that took the press, so the press was on it too.
bool isClick(const QWidget* control, const QEvent* event) {
    if (event->type() != QEvent::MouseButtonRelease) return false;
    const auto* mouse = static_cast<const QMouseEvent*>(event);
    return mouse->button() == Qt::LeftButton &&
           control->rect().contains(mouse->position().toPoint());
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    // The pictures live in the static ui library; make sure its resources
    // are linked in and registered.
    Q_INIT_RESOURCE(keyloft);

    setUrlOpener({});
    setWindowTitle(QStringLiteral("Keyloft 1.0"));
    setFixedSize(298, 287);
    QPalette boxPalette = palette();
    boxPalette.setColor(QPalette::Window, boxPalette.color(QPalette::Button));
    setPalette(boxPalette);
    setFont(boxFont(11, false));

    const QUrl webAddress(QString::fromLatin1(kKeyloftWebAddress));

    // The bevels are painted by eventFilter(): QFrame leaves shaded panels
    // to the style, which may draw them 1 pixel wide or not at all.
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(9, 8, 281, 218);
    Panel1->installEventFilter(this);

    // Created in stacking order: each later control lies above the earlier.
    addLabel(Panel1, "notice", {3, 34, 273, 13},
             QStringLiteral("\u00A9 2026 Keyloft contributors"));

    Comments = addLabel(Panel1, "Comments", {3, 69, 273, 13},
                        withoutScheme(QString::fromLatin1(kKeyloftWebAddress)));
    Comments->setWordWrap(true);
    Comments->setProperty(kLinkTarget, webAddress);
    Comments->setMouseTracking(true);
    Comments->installEventFilter(this);

    Image1 = addLabel(Panel1, "Image1", {71, 95, 145, 105});
    // The logo is larger than its area and is cut off at the right and bottom.
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setProperty(kLinkTarget, webAddress);
    Image1->setMouseTracking(true);
    Image1->installEventFilter(this);

    QLabel* sLabelFX1 =
        addLabel(Panel1, "sLabelFX1", {3, 0, 273, 32}, QStringLiteral("Keyloft 1.0"));
    sLabelFX1->setFont(boxFont(19, true));
    setTextColour(sLabelFX1, Qt::white);
    auto* shadow = new QGraphicsDropShadowEffect(sLabelFX1);
    shadow->setOffset(1, 1);
    shadow->setBlurRadius(4);
    shadow->setColor(Qt::black);
    sLabelFX1->setGraphicsEffect(shadow);
    // The heading's area starts on the panel's bevels: its glyphs, and the
    // shadow that spreads a few pixels around them, begin below the bevels
    // whatever font the family falls back to.
    const QFontMetrics heading(sLabelFX1->font());
    const int glyphTop = heading.ascent() + heading.tightBoundingRect(sLabelFX1->text()).top();
    sLabelFX1->setContentsMargins(0, std::max(0, kHeadingGlyphTop - glyphTop), 0, 0);

    QLabel* sLabel1 =
        addLabel(Panel1, "sLabel1", {3, 53, 273, 13}, QStringLiteral("INI Files Editor"));
    setTextColour(sLabel1, Qt::black);

    // Decoration over the logo: the pointer passes through to Image1.
    image4 = addLabel(Panel1, "image4", {59, 83, 168, 128});
    image4->setAttribute(Qt::WA_TransparentForMouseEvents);

    image3 = addLabel(this, "image3", {kImage3Rest, QSize(48, 48)});
    image3->installEventFilter(this);

    renderPictures();
}

void TAboutBox::setUrlOpener(UrlOpener opener) {
    if (!opener) opener = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    urlOpener_ = std::move(opener);
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
    auto* control = qobject_cast<QWidget*>(watched);
    const QEvent::Type type = event->type();
    if (control == Panel1 && type == QEvent::Paint) paintBevels(Panel1);
    // Each link and the close picture: the event that tells the pointer is
    // over it, and its handlers for that event, for leave and for a click.
    using Handler = void (TAboutBox::*)(QWidget*);
    const struct {
        QWidget* control;
        QEvent::Type over;
        Handler onOver, onLeave, onClick;
    } routes[] = {
        {Comments, QEvent::MouseMove, &TAboutBox::CommentsMouseMove, &TAboutBox::CommentsMouseLeave,
         &TAboutBox::CommentsClick},
        {Image1, QEvent::MouseMove, &TAboutBox::Image1MouseMove, &TAboutBox::Image1MouseLeave,
         &TAboutBox::Image1Click},
        {image3, QEvent::Enter, &TAboutBox::image3MouseEnter, &TAboutBox::image3MouseLeave,
         &TAboutBox::image3Click},
    };
    for (const auto& route : routes) {
        if (control != route.control) continue;
        if (type == route.over)
            (this->*route.onOver)(control);
        else if (type == QEvent::Leave)
            (this->*route.onLeave)(control);
        else if (isClick(control, event))
            (this->*route.onClick)(control);
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutBox::keyPressEvent(QKeyEvent* event) {
    // QDialog would reject on Escape and look for a default button on
    // Enter; this box has neither behaviour.
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            break;
        default:
            QDialog::keyPressEvent(event);
    }
}

void TAboutBox::showEvent(QShowEvent* event) {
    if (devicePixelRatioF() != picturesPixelRatio_) renderPictures();
    // Centred on the screen of the window that opens it.
    keyloft::ui::CentreOnScreen(this, parentWidget() ? parentWidget()->screen() : screen());
    QDialog::showEvent(event);
}

void TAboutBox::hideEvent(QHideEvent* event) {
    // The platform may never send the close picture its leave event once
    // the window is gone; undo the hover move here so that the next showing
    // finds the picture at rest.
    if (image3->pos() != kImage3Rest) image3MouseLeave(image3);
    QDialog::hideEvent(event);
}

void TAboutBox::CommentsMouseMove(QWidget* sender) {
    sender->setCursor(Qt::PointingHandCursor);
    setTextColour(sender, kLinkHoverColour);
}

void TAboutBox::CommentsMouseLeave(QWidget* sender) {
    sender->setCursor(Qt::ArrowCursor);
    setTextColour(sender, Qt::black);
}

void TAboutBox::CommentsClick(QWidget* sender) { openLinkOf(sender); }

void TAboutBox::Image1MouseMove(QWidget* sender) { sender->setCursor(Qt::PointingHandCursor); }

void TAboutBox::Image1MouseLeave(QWidget* sender) { sender->setCursor(Qt::ArrowCursor); }

void TAboutBox::Image1Click(QWidget* sender) { openLinkOf(sender); }

// Enter and leave set absolute places rather than adding offsets, so an
// unmatched event (a leave after hideEvent already moved it back) cannot
// push the picture away from its resting place.
void TAboutBox::image3MouseEnter(QWidget* sender) {
    sender->move(kImage3Rest + QPoint(2, 2));
    sender->setCursor(Qt::PointingHandCursor);
}

void TAboutBox::image3MouseLeave(QWidget* sender) {
    sender->move(kImage3Rest);
    sender->setCursor(Qt::ArrowCursor);
}

void TAboutBox::image3Click(QWidget*) { close(); }

void TAboutBox::openLinkOf(QWidget* control) { urlOpener_(control->property(kLinkTarget).toUrl()); }

// A lowered bevel outside and a raised one inside, each 2 pixels wide.
void TAboutBox::paintBevels(QWidget* panel) {
    QPainter painter(panel);
    const QRect outer = panel->rect();
    qDrawShadePanel(&painter, outer, panel->palette(), true, 2);
    qDrawShadePanel(&painter, outer.adjusted(2, 2, -2, -2), panel->palette(), false, 2);
}

void TAboutBox::renderPictures() {
    const qreal ratio = devicePixelRatioF();
    Image1->setPixmap(renderSvg(QStringLiteral(":/icons/logo.svg"), QSize(147, 110), ratio));
    image4->setPixmap(renderSvg(QStringLiteral(":/icons/frame.svg"), image4->size(), ratio));
    image3->setPixmap(renderSvg(QStringLiteral(":/icons/check.svg"), image3->size(), ratio));
    picturesPixelRatio_ = ratio;
}
