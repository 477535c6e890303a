// The update information dialog, built with Qt Widgets. The page is fetched with QtNetwork while
// the dialog is up and shown in a read-only HTML view; the component never waits for it.
#include "mxWebUpdateInfo.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFrame>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStringDecoder>
#include <QStyle>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

#include <cctype>
#include <functional>

#include "Text.h"

namespace {

constexpr int kClientWidth = 522;
constexpr int kClientHeight = 426;
constexpr int kBottomPanelHeight = 41;
constexpr int kCheckPanelHeight = 31;
constexpr int kBrowserMargin = 2;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kButtonTop = 10;
constexpr int kButtonGap = 6;
constexpr int kButtonSpacing = 3;
// The dialog's own font is not installed on this platform; the default sans face at the same
// point size keeps the layout's proportions.
constexpr int kFontPointSize = 8;

const char16_t kPageFailed[] = u"The information page could not be loaded.";

QString ToQString(const std::u16string& text) { return QString::fromStdU16String(text); }

// Esc and the window manager's close request end the dialog like the decline button, with
// mrCancel rather than QDialog's own Rejected (0).
class InfoDialog final : public QDialog {
 public:
  void reject() override { done(Tfrm_ShowInfoUpdate::mrCancel); }
};

// The bottom panel reports every change of its size, so the buttons follow it.
class BottomPanel final : public QFrame {
 public:
  explicit BottomPanel(QWidget* parent) : QFrame(parent) {}
  std::function<void()> onResize;

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QFrame::resizeEvent(event);
    if (onResize) onResize();
  }
};

// A page never makes the view read anything: the document would otherwise load the images and
// style sheets that the page names from the local file system.
class PageDocument final : public QTextDocument {
 public:
  explicit PageDocument(QObject* parent) : QTextDocument(parent) {}

 protected:
  QVariant loadResource(int, const QUrl&) override { return {}; }
};

// The charset named by the Content-Type header, or else by the page's own META line.
QByteArray FindCharset(const QByteArray& contentType, const QByteArray& body) {
  static constexpr QByteArrayView kKey = "charset=";
  for (const QByteArray& source : {contentType.toLower(), body.left(1024).toLower()}) {
    qsizetype at = source.indexOf(kKey);
    if (at < 0) continue;
    at += kKey.size();
    if (at < source.size() && (source[at] == '"' || source[at] == '\'')) ++at;
    qsizetype end = at;
    while (end < source.size() && (std::isalnum(static_cast<unsigned char>(source[end])) ||
                                   source[end] == '-' || source[end] == '_' || source[end] == '.' ||
                                   source[end] == ':'))
      ++end;
    if (end > at) return source.mid(at, end - at);
  }
  return {};
}

// A Unicode charset is decoded as such; anything else, or none, as the system's code page.
QString DecodePage(const QByteArray& body, const QByteArray& charset) {
  const auto encoding = QStringConverter::encodingForName(charset.constData());
  if (encoding && *encoding != QStringConverter::Latin1 && *encoding != QStringConverter::System) {
    QStringDecoder decoder(*encoding);
    return decoder.decode(body);
  }
  return QString::fromStdU16String(
      korvanta::platform::DecodeAnsi(std::string_view(body.constData(), static_cast<std::size_t>(body.size()))));
}

}  // namespace

struct Tfrm_ShowInfoUpdate::Impl {
  Impl();
  ~Impl();
  void Panel_BottomResize();
  void Navigate(const QString& address);
  void PageArrived(QNetworkReply* reply);
  void AbortPage();

  std::unique_ptr<InfoDialog> form;
  // The controls are owned by the form; declared in the form's control order.
  BottomPanel* Panel_Bottom = nullptr;
  QFrame* Panel2 = nullptr;
  QCheckBox* chk_FutureUpdate = nullptr;
  QPushButton* btn_OK = nullptr;
  QPushButton* btn_Cancel = nullptr;
  QFrame* Panel1 = nullptr;
  QTextBrowser* WebBrowser = nullptr;

  std::unique_ptr<QNetworkAccessManager> network;
  QPointer<QNetworkReply> page;
};

Tfrm_ShowInfoUpdate::Impl::Impl() : form(std::make_unique<InfoDialog>()) {
  form->setObjectName(QStringLiteral("frm_ShowInfoUpdate"));
  form->setWindowTitle(QStringLiteral("mxWebUpdate"));
  form->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  QFont font(QStringLiteral("Sans Serif"), kFontPointSize);
  font.setStyleHint(QFont::SansSerif);
  form->setFont(font);
  QPalette palette = form->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  form->setPalette(palette);
  form->setAutoFillBackground(true);

  Panel_Bottom = new BottomPanel(form.get());
  Panel_Bottom->setObjectName(QStringLiteral("Panel_Bottom"));
  Panel_Bottom->setFixedHeight(kBottomPanelHeight);

  Panel2 = new QFrame(form.get());
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setFrameStyle(QFrame::Box | QFrame::Plain);
  Panel2->setLineWidth(1);
  Panel2->setFixedHeight(kCheckPanelHeight);

  chk_FutureUpdate = new QCheckBox(QStringLiteral("C&heck for updates in the future"), Panel2);
  chk_FutureUpdate->setObjectName(QStringLiteral("chk_FutureUpdate"));
  chk_FutureUpdate->setGeometry(8, 6, 497, 17);
  chk_FutureUpdate->setChecked(true);

  btn_OK = new QPushButton(QStringLiteral("&OK"), Panel_Bottom);
  btn_OK->setObjectName(QStringLiteral("btn_OK"));
  btn_Cancel = new QPushButton(QStringLiteral("&Cancel"), Panel_Bottom);
  btn_Cancel->setObjectName(QStringLiteral("btn_Cancel"));
  for (QPushButton* button : {btn_OK, btn_Cancel}) {
    button->setGeometry(0, kButtonTop, kButtonWidth, kButtonHeight);
    button->setCursor(Qt::PointingHandCursor);
  }
  btn_OK->setDefault(true);
  QObject::connect(btn_OK, &QPushButton::clicked, form.get(), [this] { form->done(mrOk); });
  QObject::connect(btn_Cancel, &QPushButton::clicked, form.get(), [this] { form->done(mrCancel); });

  Panel1 = new QFrame(form.get());
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setLineWidth(1);
  WebBrowser = new QTextBrowser(Panel1);
  WebBrowser->setObjectName(QStringLiteral("WebBrowser"));
  WebBrowser->setDocument(new PageDocument(WebBrowser));
  WebBrowser->setFrameShape(QFrame::NoFrame);
  // A link in the page goes nowhere: following it would make the view read local files.
  WebBrowser->setOpenLinks(false);
  auto* browserLayout = new QVBoxLayout(Panel1);
  // The frame's own line is one of the two pixels around the view.
  const int inner = kBrowserMargin - Panel1->frameWidth();
  browserLayout->setContentsMargins(inner, inner, inner, inner);
  browserLayout->addWidget(WebBrowser);

  auto* formLayout = new QVBoxLayout(form.get());
  formLayout->setContentsMargins(0, 0, 0, 0);
  formLayout->setSpacing(0);
  formLayout->addWidget(Panel1, 1);
  formLayout->addWidget(Panel2);
  formLayout->addWidget(Panel_Bottom);

  QWidget::setTabOrder(btn_OK, btn_Cancel);
  QWidget::setTabOrder(btn_Cancel, chk_FutureUpdate);
  QWidget::setTabOrder(chk_FutureUpdate, WebBrowser);

  Panel_Bottom->onResize = [this] { Panel_BottomResize(); };
  form->resize(kClientWidth, kClientHeight);
  // Lay the form out now, so the controls have their places before the first showing.
  formLayout->activate();
  browserLayout->activate();
  Panel_BottomResize();

  QNetworkProxyFactory::setUseSystemConfiguration(true);
  network = std::make_unique<QNetworkAccessManager>();
}

Tfrm_ShowInfoUpdate::Impl::~Impl() { AbortPage(); }

void Tfrm_ShowInfoUpdate::Impl::Panel_BottomResize() {
  const auto [okLeft, cancelLeft] = ButtonLefts(Panel_Bottom->width(), btn_OK->width(), btn_Cancel->width());
  btn_OK->move(okLeft, btn_OK->y());
  btn_Cancel->move(cancelLeft, btn_Cancel->y());
}

void Tfrm_ShowInfoUpdate::Impl::AbortPage() {
  if (!page) return;
  // Disconnect first: abort() reports finished() at once, which must not reach the view.
  QNetworkReply* reply = page;
  page = nullptr;
  reply->disconnect();
  reply->abort();
  delete reply;
}

void Tfrm_ShowInfoUpdate::Impl::Navigate(const QString& address) {
  AbortPage();
  WebBrowser->clear();
  QNetworkRequest request{QUrl(address)};
  page = network->get(request);
  QNetworkReply* reply = page;
  // The view is the context: a reply can never call back into a destroyed form.
  QObject::connect(reply, &QNetworkReply::finished, WebBrowser, [this, reply] { PageArrived(reply); });
}

void Tfrm_ShowInfoUpdate::Impl::PageArrived(QNetworkReply* reply) {
  if (reply != page) return;
  page = nullptr;
  reply->deleteLater();
  if (reply->error() != QNetworkReply::NoError) {
    WebBrowser->setPlainText(QString::fromStdU16String(kPageFailed));
    return;
  }
  const QByteArray body = reply->readAll();
  const QByteArray contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
  WebBrowser->setHtml(DecodePage(body, FindCharset(contentType, body)));
}

Tfrm_ShowInfoUpdate::Tfrm_ShowInfoUpdate() : impl_(std::make_unique<Impl>()) {}

Tfrm_ShowInfoUpdate::~Tfrm_ShowInfoUpdate() = default;

bool Tfrm_ShowInfoUpdate::CanShow() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

std::pair<int, int> Tfrm_ShowInfoUpdate::ButtonLefts(int panelWidth, int okWidth, int cancelWidth) {
  const int okLeft = (panelWidth - (okWidth + cancelWidth + kButtonGap)) / 2;
  return {okLeft, okLeft + okWidth + kButtonSpacing};
}

void Tfrm_ShowInfoUpdate::setFutureUpdateChecked(bool Checked) { impl_->chk_FutureUpdate->setChecked(Checked); }

bool Tfrm_ShowInfoUpdate::FutureUpdateChecked() const { return impl_->chk_FutureUpdate->isChecked(); }

void Tfrm_ShowInfoUpdate::setCaptions(const std::u16string& OkButton, const std::u16string& CancelButton,
                                      const std::u16string& CheckForUpdate) {
  impl_->btn_OK->setText(ToQString(OkButton));
  impl_->btn_Cancel->setText(ToQString(CancelButton));
  impl_->chk_FutureUpdate->setText(ToQString(CheckForUpdate));
}

void Tfrm_ShowInfoUpdate::Navigate(const std::u16string& URL) { impl_->Navigate(ToQString(URL)); }

int Tfrm_ShowInfoUpdate::ShowModal() {
  QDialog& form = *impl_->form;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    form.move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, form.size(), screen->availableGeometry())
                  .topLeft());
  }
  impl_->btn_OK->setFocus();
  return form.exec();
}

void* Tfrm_ShowInfoUpdate::Widget() const { return impl_->form.get(); }
