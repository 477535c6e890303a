// TmxWebUpdate: a non-visual web-update component. It fetches an information page over HTTP, reads
// the page facts from its META lines, compares the published version with the installed one and,
// when it is newer, downloads the update file and may start it. It is configured by properties and
// reports every stage through events; one call of CheckForAnUpdate is one update run.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvanta::platform {
class InternetHandle;
class ConnectionHandle;
class RequestHandle;
class Sha256;
}  // namespace korvanta::platform

class TmxWebUpdate;
class Tfrm_ShowInfoUpdate;

enum TmxUpdateOption : std::uint8_t { uoRunUpdate = 0, uoTerminate = 1, uoOverwrite = 2 };

// A set of TmxUpdateOption in one byte, bit n standing for ordinal n.
class TmxUpdateOptions {
 public:
  constexpr TmxUpdateOptions() = default;
  constexpr TmxUpdateOptions(std::initializer_list<TmxUpdateOption> options) {
    for (TmxUpdateOption o : options) FBits |= Bit(o);
  }
  static constexpr TmxUpdateOptions FromBits(std::uint8_t bits) {
    TmxUpdateOptions s;
    s.FBits = bits;
    return s;
  }
  constexpr bool Contains(TmxUpdateOption o) const { return (FBits & Bit(o)) != 0; }
  constexpr void Include(TmxUpdateOption o) { FBits |= Bit(o); }
  constexpr void Exclude(TmxUpdateOption o) { FBits &= static_cast<std::uint8_t>(~Bit(o)); }
  constexpr std::uint8_t Bits() const { return FBits; }
  friend constexpr bool operator==(TmxUpdateOptions, TmxUpdateOptions) = default;

 private:
  static constexpr std::uint8_t Bit(TmxUpdateOption o) { return static_cast<std::uint8_t>(1u << o); }
  std::uint8_t FBits = 0;
};
static_assert(sizeof(TmxUpdateOptions) == 1);

enum TmxVersionFormat : std::uint8_t { vfStandard = 0, vfString = 1, vfNumber = 2 };

// Event types. Sender is always the component; non-const references are var parameters.
using TNotifyEvent = std::function<void(TmxWebUpdate& Sender)>;
using TDownloadEvent = std::function<void(TmxWebUpdate& Sender, std::int32_t Total, std::int32_t Downloaded)>;
using TShowInfoEvent = std::function<void(TmxWebUpdate& Sender, bool& ShowInfo, bool& CheckForUpdate)>;
using TAfterShowInfoEvent = std::function<void(TmxWebUpdate& Sender, bool CheckForUpdate)>;
using TGetClientFileNameEvent = std::function<void(TmxWebUpdate& Sender, std::u16string& FileName)>;
using TDownloadFileEvent = std::function<void(TmxWebUpdate& Sender, std::u16string FileName)>;
using TClientFileExistsEvent =
    std::function<void(TmxWebUpdate& Sender, std::u16string& FileName, bool& Overwrite)>;
using TUpdateAvailableEvent = std::function<void(TmxWebUpdate& Sender, std::u16string ActualVersion,
                                                 std::u16string NewVersion, bool& CanUpdate)>;

// Where the information page is and which version is installed.
class TmxProductInfo {
 public:
  TmxProductInfo();

  const std::u16string& URL() const { return FURL; }
  // A value that does not begin with "http://" or "https://" (in any case) gets "http://" in front.
  void setURL(const std::u16string& Value);
  const std::u16string& Version() const { return FVersion; }
  void setVersion(const std::u16string& Value) { FVersion = Value; }
  TmxVersionFormat VersionFormat() const { return FVersionFormat; }
  void setVersionFormat(TmxVersionFormat Value) { FVersionFormat = Value; }

 private:
  std::u16string FURL;
  std::u16string FVersion;
  TmxVersionFormat FVersionFormat = vfStandard;
};

// The NAMEs of the META tags that carry the page facts.
class TmxTagInfo {
 public:
  TmxTagInfo() = default;

  const std::u16string& Author() const { return FAuthor; }
  void setAuthor(const std::u16string& Value) { FAuthor = Value; }
  const std::u16string& Email() const { return FEmail; }
  void setEmail(const std::u16string& Value) { FEmail = Value; }
  const std::u16string& ClientFileName() const { return FClientFileName; }
  void setClientFileName(const std::u16string& Value) { FClientFileName = Value; }
  const std::u16string& Download() const { return FDownload; }
  void setDownload(const std::u16string& Value) { FDownload = Value; }
  const std::u16string& ProductName() const { return FProductName; }
  void setProductName(const std::u16string& Value) { FProductName = Value; }
  const std::u16string& Redirection() const { return FRedirection; }
  void setRedirection(const std::u16string& Value) { FRedirection = Value; }
  const std::u16string& RunParameters() const { return FRunParameters; }
  void setRunParameters(const std::u16string& Value) { FRunParameters = Value; }
  const std::u16string& Version() const { return FVersion; }
  void setVersion(const std::u16string& Value) { FVersion = Value; }
  // The tag of the publisher's signature over the update file (used when PublicKey is set).
  const std::u16string& Signature() const { return FSignature; }
  void setSignature(const std::u16string& Value) { FSignature = Value; }

 private:
  std::u16string FAuthor = u"mxAuthor";
  std::u16string FEmail = u"mxEmail";
  std::u16string FClientFileName = u"mxClientSideName";
  std::u16string FDownload = u"mxDownload";
  std::u16string FProductName = u"mxProduct";
  std::u16string FRedirection = u"mxRedirection";
  std::u16string FRunParameters = u"mxRunParameters";
  std::u16string FVersion = u"mxVersion";
  std::u16string FSignature = u"mxSignature";
};

// Captions of the information dialog; "&" marks the accelerator letter.
class TmxInfoCaption {
 public:
  TmxInfoCaption() = default;

  const std::u16string& OkButton() const { return FOk; }
  void setOkButton(const std::u16string& Value) { FOk = Value; }
  const std::u16string& CancelButton() const { return FCancel; }
  void setCancelButton(const std::u16string& Value) { FCancel = Value; }
  const std::u16string& CheckForUpdate() const { return FCheckforUpdate; }
  void setCheckForUpdate(const std::u16string& Value) { FCheckforUpdate = Value; }

 private:
  std::u16string FOk = u"&OK";
  std::u16string FCancel = u"&Cancel";
  std::u16string FCheckforUpdate = u"C&heck for updates in the future";
};

class TmxWebUpdate {
 public:
  TmxWebUpdate();
  virtual ~TmxWebUpdate();
  TmxWebUpdate(const TmxWebUpdate&) = delete;
  TmxWebUpdate& operator=(const TmxWebUpdate&) = delete;

  // One whole update run; true only when the update file was received completely.
  bool CheckForAnUpdate();
  // Asks the transfer in progress to stop before its next read.
  void Abort();

  // Published settings.
  TmxTagInfo* TagInfo() const { return FTagInfo.get(); }
  TmxProductInfo* ProductInfo() const { return FProductInfo.get(); }
  TmxInfoCaption* InfoCaption() const { return FInfoCaption.get(); }
  const std::u16string& UserName() const { return FUserName; }
  void setUserName(const std::u16string& Value) { FUserName = Value; }
  const std::u16string& Password() const { return FPassword; }
  void setPassword(const std::u16string& Value) { FPassword = Value; }
  TmxUpdateOptions Options() const { return FOptions; }
  void setOptions(TmxUpdateOptions Value) { FOptions = Value; }
  // The component's own version, "1.21"; writing it changes nothing.
  std::u16string Version() const;
  void setVersion(const std::u16string& Value);
  const std::u16string& TargetFolder() const { return FTargetFolder; }
  void setTargetFolder(const std::u16string& Value) { FTargetFolder = Value; }
  std::uint32_t HTTPPort() const { return FHTTPPort; }
  void setHTTPPort(std::uint32_t Value) { FHTTPPort = Value; }
  // The publisher's Ed25519 public key in base64. Empty: update files are taken as they come.
  // Set: a download counts only when the page's Signature verifies for the published version and
  // the file's SHA-256; any other download is deleted before OnAfterDownload.
  const std::u16string& PublicKey() const { return FPublicKey; }
  void setPublicKey(const std::u16string& Value) { FPublicKey = Value; }

  const TDownloadFileEvent& OnBeforeDownload() const { return FOnBeforeDownload; }
  void setOnBeforeDownload(TDownloadFileEvent Value) { FOnBeforeDownload = std::move(Value); }
  const TDownloadFileEvent& OnAfterDownload() const { return FOnAfterDownload; }
  void setOnAfterDownload(TDownloadFileEvent Value) { FOnAfterDownload = std::move(Value); }
  const TUpdateAvailableEvent& OnUpdateAvailable() const { return FOnUpdateAvailable; }
  void setOnUpdateAvailable(TUpdateAvailableEvent Value) { FOnUpdateAvailable = std::move(Value); }
  const TGetClientFileNameEvent& OnGetClientFileName() const { return FOnGetClientFileName; }
  void setOnGetClientFileName(TGetClientFileNameEvent Value) { FOnGetClientFileName = std::move(Value); }
  const TClientFileExistsEvent& OnClientFileExists() const { return FOnClientFileExists; }
  void setOnClientFileExists(TClientFileExistsEvent Value) { FOnClientFileExists = std::move(Value); }
  const TShowInfoEvent& OnBeforeShowInfo() const { return FOnBeforeShowInfo; }
  void setOnBeforeShowInfo(TShowInfoEvent Value) { FOnBeforeShowInfo = std::move(Value); }
  const TAfterShowInfoEvent& OnAfterShowInfo() const { return FOnAfterShowInfo; }
  void setOnAfterShowInfo(TAfterShowInfoEvent Value) { FOnAfterShowInfo = std::move(Value); }
  const TNotifyEvent& OnBeforeGetInfo() const { return FOnBeforeGetInfo; }
  void setOnBeforeGetInfo(TNotifyEvent Value) { FOnBeforeGetInfo = std::move(Value); }
  const TNotifyEvent& OnCannotExecute() const { return FOnCannotExecute; }
  void setOnCannotExecute(TNotifyEvent Value) { FOnCannotExecute = std::move(Value); }
  const TNotifyEvent& OnAfterGetInfo() const { return FOnAfterGetInfo; }
  void setOnAfterGetInfo(TNotifyEvent Value) { FOnAfterGetInfo = std::move(Value); }
  const TNotifyEvent& OnNoUpdateFound() const { return FOnNoUpdateFound; }
  void setOnNoUpdateFound(TNotifyEvent Value) { FOnNoUpdateFound = std::move(Value); }
  const TDownloadEvent& OnDownload() const { return FOnDownload; }
  void setOnDownload(TDownloadEvent Value) { FOnDownload = std::move(Value); }
  const TNotifyEvent& OnDownloadError() const { return FOnDownloadError; }
  void setOnDownloadError(TNotifyEvent Value) { FOnDownloadError = std::move(Value); }

  // Run-time results: the page facts of the last page read, and whether a run is in progress.
  const std::u16string& ProductVersion() const { return FProductVersion; }
  const std::u16string& UpdateURL() const { return FUpdateURL; }
  const std::u16string& ClientFileName() const { return FClientFileName; }
  const std::u16string& RedirectionURL() const { return FRedirectionURL; }
  const std::u16string& Author() const { return FAuthor; }
  const std::u16string& EMail() const { return FEMail; }
  const std::u16string& ProductName() const { return FProductName; }
  const std::u16string& RunParameters() const { return FRunParameters; }
  const std::u16string& Signature() const { return FSignature; }
  bool Active() const { return FActive; }

  // Reads the page facts from the bytes of one information page, as a retrieval does with each
  // page it fetches (Windows-1252, cut into lines, facts read with the tag names in TagInfo).
  // For publishers checking a page they wrote; no event fires.
  void ReadInfoPage(std::string_view PageBytes);

 protected:
  // Dispatchers: each fires its event with Sender = this when it is assigned.
  virtual void DoDownload();
  virtual void DoDownloadError();
  virtual void DoBeforeDownload(const std::u16string& FileName);
  virtual void DoAfterDownload(const std::u16string& FileName);
  virtual void DoNoUpdateFound();
  virtual void DoAfterGetInfo();
  virtual void DoBeforeGetInfo();
  virtual void DoCannotExecute();
  // The optional information dialog; true when the run may go on to the download.
  virtual bool ShowUpdateInfo();
  // The default local path of the update file: the target folder (or the temporary folder) and
  // the client-side file name.
  virtual std::u16string GetClientFilePath();
  // Cuts an address into host and object path.
  virtual void SplitURL(const std::u16string& URL, std::u16string& Host, std::u16string& ObjectPath);

 private:
  friend struct TmxWebUpdateInternals;  // white-box access for the test suite

  void GetInfo();
  void ParseInfo();
  bool IsNewerVersion();
  void TransferURL(const std::u16string& URL, const std::u16string& UserName, const std::u16string& Password,
                   bool ContentLengthRequired, bool ToFile, const std::u16string& LocalFileName);
  static void CloseInternetHandles(korvanta::platform::RequestHandle& Request,
                                   korvanta::platform::ConnectionHandle& Connection,
                                   korvanta::platform::InternetHandle& Internet);
  void DownloadUpdate();
  bool DownloadIsSigned();

  std::int32_t FVersion = 0;
  std::unique_ptr<TmxProductInfo> FProductInfo;
  std::unique_ptr<TmxTagInfo> FTagInfo;
  TmxUpdateOptions FOptions;
  std::unique_ptr<TmxInfoCaption> FInfoCaption;
  bool FActive = false;
  std::u16string FFileName;
  std::u16string FUserName;
  std::u16string FPassword;
  std::unique_ptr<std::vector<std::u16string>> FInfo;
  TDownloadEvent FOnDownload;
  TNotifyEvent FOnDownloadError;
  TNotifyEvent FOnNoUpdateFound;
  TNotifyEvent FOnBeforeGetInfo;
  TNotifyEvent FOnAfterGetInfo;
  TNotifyEvent FOnCannotExecute;
  TShowInfoEvent FOnBeforeShowInfo;
  TAfterShowInfoEvent FOnAfterShowInfo;
  TDownloadFileEvent FOnBeforeDownload;
  TDownloadFileEvent FOnAfterDownload;
  TClientFileExistsEvent FOnClientFileExists;
  TGetClientFileNameEvent FOnGetClientFileName;
  TUpdateAvailableEvent FOnUpdateAvailable;
  bool FAborting = false;
  std::unique_ptr<Tfrm_ShowInfoUpdate> frm_ShowInfoUpdate;
  std::u16string FProductVersion;
  std::u16string FUpdateURL;
  std::u16string FClientFileName;
  std::u16string FRedirectionURL;
  std::u16string FAuthor;
  std::u16string FEMail;
  std::u16string FProductName;
  std::u16string FRunParameters;
  bool FDownloadResult = false;
  std::int32_t FFileSize = 0;
  std::uint32_t FDownloadSize = 0;
  std::uint32_t FDownloadedSize = 0;
  std::u16string FTargetFolder;
  std::uint32_t FHTTPPort = 0;
  std::u16string FPublicKey;
  std::u16string FSignature;
  // The digest of the update file while it streams in; only when PublicKey is set.
  std::unique_ptr<korvanta::platform::Sha256> FDigest;
};

// The value of a line's CONTENT attribute: the text after the first "CONTENT=" (ASCII letters in
// any case) and one more character, up to the next double quote within 255 characters; empty when
// there is no such attribute or no closing quote.
std::u16string ExtractContent(const std::u16string& Line);

// Cuts text into lines at CR LF, a lone LF and a lone CR; a final break adds no empty last line.
std::vector<std::u16string> SplitLines(std::u16string_view Text);

// Design-time values stored with a host's window. Load writes each present value through the same
// setter a program would call, in the order of the published properties, after construction has
// set the defaults: a stored value always wins over a default.
struct TmxWebUpdateStoredValues {
  struct TagNames {
    std::optional<std::u16string> Author, Email, ClientFileName, Download, ProductName, Redirection,
        RunParameters, Version, Signature;
  } TagInfo;
  struct Product {
    std::optional<std::u16string> URL, Version;
    std::optional<TmxVersionFormat> VersionFormat;
  } ProductInfo;
  struct Captions {
    std::optional<std::u16string> OkButton, CancelButton, CheckForUpdate;
  } InfoCaption;
  std::optional<std::u16string> UserName, Password;
  std::optional<TmxUpdateOptions> Options;
  std::optional<std::u16string> Version;
  std::optional<std::u16string> TargetFolder;
  std::optional<std::uint32_t> HTTPPort;
  std::optional<std::u16string> PublicKey;

  void Load(TmxWebUpdate& Component) const;
};
