// The component's construction, settings, dispatchers and stored values.
#include "mxWebUpdate.h"

#include "Http.h"
#include "Signing.h"
#include "Text.h"
#include "mxWebUpdateInfo.h"

using korvanta::platform::StartsWithIgnoreAsciiCase;

namespace {
// The component's own version: high byte of the low word = major, low byte = minor.
constexpr std::int32_t kComponentVersion = 277;
}  // namespace

TmxProductInfo::TmxProductInfo() {
  setURL(u"");
  FVersion = u"1.0";
  FVersionFormat = vfStandard;
}

void TmxProductInfo::setURL(const std::u16string& Value) {
  // The case of the scheme is ignored for ASCII letters only: "http://" has no other letters, and a
  // locale-dependent fold could never make a non-ASCII character equal to one of them.
  // An https address is kept as it stands; prefixing it would make it unreachable.
  if (StartsWithIgnoreAsciiCase(Value, u"http://") || StartsWithIgnoreAsciiCase(Value, u"https://"))
    FURL = Value;
  else
    FURL = u"http://" + Value;
}

TmxWebUpdate::TmxWebUpdate() {
  FVersion = kComponentVersion;
  FOptions = {uoRunUpdate, uoTerminate};
  FProductInfo = std::make_unique<TmxProductInfo>();
  FTagInfo = std::make_unique<TmxTagInfo>();
  FInfoCaption = std::make_unique<TmxInfoCaption>();
  FRedirectionURL.clear();
  FInfo = std::make_unique<std::vector<std::u16string>>();
  FHTTPPort = 80;
}

TmxWebUpdate::~TmxWebUpdate() {
  Abort();
  FInfo.reset();
  FTagInfo.reset();
  FInfoCaption.reset();
  FProductInfo.reset();
  frm_ShowInfoUpdate.reset();
}

void TmxWebUpdate::Abort() { FAborting = true; }

std::u16string TmxWebUpdate::Version() const {
  const auto major = (FVersion >> 8) & 0xFF;
  const auto minor = FVersion & 0xFF;
  return korvanta::platform::FromUtf8(std::to_string(major) + "." + std::to_string(minor));
}

void TmxWebUpdate::setVersion(const std::u16string& /*Value*/) {}

void TmxWebUpdate::DoDownload() {
  if (FOnDownload)
    FOnDownload(*this, FFileSize, static_cast<std::int32_t>(FDownloadedSize));
}
void TmxWebUpdate::DoDownloadError() {
  if (FOnDownloadError) FOnDownloadError(*this);
}
void TmxWebUpdate::DoBeforeDownload(const std::u16string& FileName) {
  if (FOnBeforeDownload) FOnBeforeDownload(*this, FileName);
}
void TmxWebUpdate::DoAfterDownload(const std::u16string& FileName) {
  if (FOnAfterDownload) FOnAfterDownload(*this, FileName);
}
void TmxWebUpdate::DoNoUpdateFound() {
  if (FOnNoUpdateFound) FOnNoUpdateFound(*this);
}
void TmxWebUpdate::DoAfterGetInfo() {
  if (FOnAfterGetInfo) FOnAfterGetInfo(*this);
}
void TmxWebUpdate::DoBeforeGetInfo() {
  if (FOnBeforeGetInfo) FOnBeforeGetInfo(*this);
}
void TmxWebUpdate::DoCannotExecute() {
  if (FOnCannotExecute) FOnCannotExecute(*this);
}

void TmxWebUpdateStoredValues::Load(TmxWebUpdate& Component) const {
  TmxTagInfo& tags = *Component.TagInfo();
  if (TagInfo.Author) tags.setAuthor(*TagInfo.Author);
  if (TagInfo.Email) tags.setEmail(*TagInfo.Email);
  if (TagInfo.ClientFileName) tags.setClientFileName(*TagInfo.ClientFileName);
  if (TagInfo.Download) tags.setDownload(*TagInfo.Download);
  if (TagInfo.ProductName) tags.setProductName(*TagInfo.ProductName);
  if (TagInfo.Redirection) tags.setRedirection(*TagInfo.Redirection);
  if (TagInfo.RunParameters) tags.setRunParameters(*TagInfo.RunParameters);
  if (TagInfo.Version) tags.setVersion(*TagInfo.Version);
  if (TagInfo.Signature) tags.setSignature(*TagInfo.Signature);

  TmxProductInfo& product = *Component.ProductInfo();
  if (ProductInfo.URL) product.setURL(*ProductInfo.URL);
  if (ProductInfo.Version) product.setVersion(*ProductInfo.Version);
  if (ProductInfo.VersionFormat) product.setVersionFormat(*ProductInfo.VersionFormat);

  TmxInfoCaption& captions = *Component.InfoCaption();
  if (InfoCaption.OkButton) captions.setOkButton(*InfoCaption.OkButton);
  if (InfoCaption.CancelButton) captions.setCancelButton(*InfoCaption.CancelButton);
  if (InfoCaption.CheckForUpdate) captions.setCheckForUpdate(*InfoCaption.CheckForUpdate);

  if (UserName) Component.setUserName(*UserName);
  if (Password) Component.setPassword(*Password);
  if (Options) Component.setOptions(*Options);
  if (Version) Component.setVersion(*Version);
  if (TargetFolder) Component.setTargetFolder(*TargetFolder);
  if (HTTPPort) Component.setHTTPPort(*HTTPPort);
  if (PublicKey) Component.setPublicKey(*PublicKey);
}
