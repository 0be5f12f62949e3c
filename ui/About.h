// The About box: product name and version, the maker's notice, and the
// maker's web address offered as a text link and as a picture link.
#pragma once

#include <QDialog>
#include <QPoint>
#include <functional>

class QFrame;
class QLabel;
class QUrl;

// The one web address of the product. The text link shows it without its
// scheme; both links open it as written here.
inline constexpr char kKeyloftWebAddress[] = "https://keyloft.example.org/";

// A fixed-size dialog, created once (hidden) by the main window and shown
// modally with exec() as often as the About command runs. It has no buttons
// and no keys: a click on the check-mark picture, the title bar's close
// button or Alt+F4 closes it; Enter and Escape are ignored.
class TAboutBox : public QDialog {
    Q_OBJECT

public:
    // Receives the link target of a clicked link. Its outcome is not looked
    // at: a failure to open the address shows nothing.
    using UrlOpener = std::function<void(const QUrl&)>;

    explicit TAboutBox(QWidget* parent = nullptr);

    // Replaces the way links are opened (by default the desktop's handler,
    // QDesktopServices::openUrl). An empty function restores the default.
    void setUrlOpener(UrlOpener opener);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Pointer handlers; each takes the control that the event came from.
    void CommentsMouseMove(QWidget* sender);
    void CommentsMouseLeave(QWidget* sender);
    void CommentsClick(QWidget* sender);
    void Image1MouseMove(QWidget* sender);
    void Image1MouseLeave(QWidget* sender);
    void Image1Click(QWidget* sender);
    void image3MouseEnter(QWidget* sender);
    void image3MouseLeave(QWidget* sender);
    void image3Click(QWidget* sender);

    void openLinkOf(QWidget* control);
    void paintBevels(QWidget* panel);
    void renderPictures();

    // The close picture's place when the pointer is not over it; while the
    // pointer is over it, it sits 2 pixels right and down of here.
    static constexpr QPoint kImage3Rest{128, 233};
    // The first row of the panel the heading's letters may reach: below its
    // two bevels (4 rows) and the reach of the letters' shadow.
    static constexpr int kHeadingGlyphTop = 8;

    UrlOpener urlOpener_;
    qreal picturesPixelRatio_ = 0.0;

    QFrame* Panel1 = nullptr;
    QLabel* Comments = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* image4 = nullptr;
    QLabel* image3 = nullptr;
};
