// White-box access to the component for the test suite: its internal operations and fields.
#pragma once

#include "mxWebUpdate.h"

#include <string>
#include <vector>

struct TmxWebUpdateInternals {
  static void ParseInfo(TmxWebUpdate& c) { c.ParseInfo(); }
  static bool IsNewerVersion(TmxWebUpdate& c) { return c.IsNewerVersion(); }
  static void GetInfo(TmxWebUpdate& c) { c.GetInfo(); }
  static void DownloadUpdate(TmxWebUpdate& c) { c.DownloadUpdate(); }
  static bool ShowUpdateInfo(TmxWebUpdate& c) { return c.ShowUpdateInfo(); }
  static std::u16string GetClientFilePath(TmxWebUpdate& c) { return c.GetClientFilePath(); }
  static void SplitURL(TmxWebUpdate& c, const std::u16string& url, std::u16string& host, std::u16string& path) {
    c.SplitURL(url, host, path);
  }
  static void TransferURL(TmxWebUpdate& c, const std::u16string& url, bool contentLengthRequired, bool toFile,
                          const std::u16string& localFile) {
    c.TransferURL(url, c.FUserName, c.FPassword, contentLengthRequired, toFile, localFile);
  }

  static std::vector<std::u16string>& Info(TmxWebUpdate& c) { return *c.FInfo; }
  static std::int32_t& PackedVersion(TmxWebUpdate& c) { return c.FVersion; }
  static bool& Aborting(TmxWebUpdate& c) { return c.FAborting; }
  static bool& DownloadResult(TmxWebUpdate& c) { return c.FDownloadResult; }
  static std::int32_t& FileSize(TmxWebUpdate& c) { return c.FFileSize; }
  static std::uint32_t& DownloadSize(TmxWebUpdate& c) { return c.FDownloadSize; }
  static std::uint32_t& DownloadedSize(TmxWebUpdate& c) { return c.FDownloadedSize; }
  static std::u16string& FileName(TmxWebUpdate& c) { return c.FFileName; }
  static std::u16string& ProductVersion(TmxWebUpdate& c) { return c.FProductVersion; }
  static std::u16string& ProductName(TmxWebUpdate& c) { return c.FProductName; }
  static std::u16string& ClientFileName(TmxWebUpdate& c) { return c.FClientFileName; }
  static std::u16string& RedirectionURL(TmxWebUpdate& c) { return c.FRedirectionURL; }
  static std::u16string& UpdateURL(TmxWebUpdate& c) { return c.FUpdateURL; }
  static std::u16string& Author(TmxWebUpdate& c) { return c.FAuthor; }
  static std::u16string& EMail(TmxWebUpdate& c) { return c.FEMail; }
  static std::u16string& RunParameters(TmxWebUpdate& c) { return c.FRunParameters; }
  static bool HasDialog(const TmxWebUpdate& c) { return c.frm_ShowInfoUpdate != nullptr; }
  static Tfrm_ShowInfoUpdate* Dialog(const TmxWebUpdate& c) { return c.frm_ShowInfoUpdate.get(); }
};

