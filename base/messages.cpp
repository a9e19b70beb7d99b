// Message composition.  Every visible word comes from the string table; the
// code adds only joiners, names, numbers and system texts.
#include "base/messages.h"

#include <utility>

#include "base/text.h"

namespace {

constexpr const char* kBlankLine = "\r\n\r\n";

MessageSpec dialog(DialogKind kind, DialogButtons buttons, std::string text)
{
    MessageSpec spec;
    spec.show = true;
    spec.kind = kind;
    spec.buttons = buttons;
    spec.text = std::move(text);
    return spec;
}

MessageSpec errorAbort(std::string text)
{
    return dialog(DialogKind::Error, DialogButtons::Abort, std::move(text));
}

std::string decimal(ErrorCode code)
{
    return std::to_string(code);
}

std::string flashPlayerUrl()
{
    return loadText(IDS_FLASH_PLAYER_URL);
}

} // namespace

std::string installErrorText(ErrorCode code, const std::string& fileName,
                             const std::string& systemText)
{
    std::string text = loadText(IDS_INSTALL_ERROR_PREFIX);
    switch (code) {
    case 5:
        text += fileName + kBlankLine + loadText(IDS_ERR_PRIVILEGES);
        break;
    case errFileBusy:
        text += loadText(IDS_ERR_FILE_BUSY) + fileName;
        break;
    case errSaverNotReplaceable:
        text += loadText(IDS_ERR_SAVER_NOT_REPLACEABLE);
        break;
    case errTempCopyFailed:
        text += fileName + systemText + kBlankLine + loadText(IDS_ERR_TEMP_COPY_RETRY) +
                loadText(IDS_ERR_TEMP_COPY_ADMIN);
        break;
    default:
        text += fileName + kBlankLine + loadText(IDS_ERR_PROBLEM_WITH_FILE) + fileName + ". ";
        break;
    }
    return text;
}

MessageSpec installErrorMessage(ErrorCode code, const std::string& fileName,
                                const std::string& systemText)
{
    return errorAbort(installErrorText(code, fileName, systemText));
}

MessageSpec startupErrorMessage(ErrorCode code)
{
    switch (code) {
    case errUserAbort:
        return {};
    case errWindowsNTUnsupported:
        return errorAbort(loadText(IDS_ERR_NT_UNSUPPORTED));
    case errFlashInstallFailed:
        return dialog(DialogKind::Error, DialogButtons::Ok,
                      loadText(IDS_ERR_FLASH_INSTALL_FAILED) +
                          loadText(IDS_ERR_FLASH_INSTALL_DOWNLOAD) + flashPlayerUrl() +
                          loadText(IDS_ERR_FLASH_INSTALL_RETRY));
    case errFlashPlayerMissing:
        return dialog(DialogKind::Information, DialogButtons::Ok,
                      loadText(IDS_ERR_FLASH_MISSING) + flashPlayerUrl() +
                          loadText(IDS_ERR_FLASH_MISSING_RETRY));
    case errLinkedWorkFolder:
        return errorAbort(loadText(IDS_ERR_LINKED_WORK_FOLDER) + loadText(IDS_BRINDLEFAX_ERROR) +
                          decimal(code) + ". ");
    case errLinkedSaverFolder:
        return errorAbort(loadText(IDS_ERR_LINKED_SAVER_FOLDER) + loadText(IDS_BRINDLEFAX_ERROR) +
                          decimal(code) + ". ");
    case errUnsafeFolder:
        return errorAbort(loadText(IDS_ERR_UNSAFE_FOLDER) + loadText(IDS_BRINDLEFAX_ERROR) +
                          decimal(code) + ". ");
    default:
        return errorAbort(loadText(IDS_ERR_CORRUPT_INSTALLER) + loadText(IDS_BRINDLEFAX_ERROR) +
                          decimal(code) + ". ");
    }
}

std::string installStatusText(ErrorCode code)
{
    switch (code) {
    case errOk:
        return loadText(IDS_STATUS_COMPLETE);
    case 5:
        return loadText(IDS_STATUS_ABORTED_PRIVILEGES);
    case errSaverNotReplaceable:
        return loadText(IDS_STATUS_ABORTED_NOT_REPLACEABLE);
    default:
        return loadText(IDS_STATUS_INSTALL_FAILED) + decimal(code);
    }
}

std::string preparingOutcomeText(ErrorCode code)
{
    switch (code) {
    case errOk:
        return loadText(IDS_OUTCOME_SUCCESS);
    case errUserAbort:
        return loadText(IDS_OUTCOME_CANCELLED);
    default:
        return loadText(IDS_STATUS_INSTALL_FAILED) + decimal(code);
    }
}

std::string dialogTitle(DialogKind kind)
{
    switch (kind) {
    case DialogKind::Error:
        return loadText(IDS_TITLE_ERROR);
    case DialogKind::Information:
        return loadText(IDS_TITLE_INFORMATION);
    case DialogKind::Confirm:
        return loadText(IDS_TITLE_CONFIRM);
    case DialogKind::None:
    case DialogKind::Plain:  // titled with the application title by the caller
        break;
    }
    return {};
}

MessageSpec overwriteQuestionMessage(const std::string& saverName)
{
    return dialog(DialogKind::Confirm, DialogButtons::OkCancel,
                  saverName + loadText(IDS_OVERWRITE_QUESTION));
}

MessageSpec controlPanelQuestionMessage()
{
    return dialog(DialogKind::Confirm, DialogButtons::YesNo, loadText(IDS_CONTROL_PANEL_QUESTION));
}

MessageSpec dataFileInUseMessage()
{
    return dialog(DialogKind::Information, DialogButtons::Abort,
                  loadText(IDS_BRINDLEFAX_ERROR) + loadText(IDS_DATA_FILE_IN_USE));
}

MessageSpec dataFileOpenErrorMessage(const std::string& path, ErrorCode code)
{
    return errorAbort(loadText(IDS_DATA_FILE_OPEN_PROBLEM) + path + kBlankLine + decimal(code));
}

MessageSpec dataFileReadErrorMessage(const std::string& systemText)
{
    return errorAbort(loadText(IDS_BRINDLEFAX_ERROR) + loadText(IDS_DATA_FILE_READ_PROBLEM) +
                      systemText);
}

MessageSpec closeFileErrorMessage(const std::string& path, const std::string& systemText)
{
    return errorAbort(loadText(IDS_CLOSE_FILE_PROBLEM) + path + "\r\n" + systemText);
}

MessageSpec zipErrorMessage(const std::string& systemText)
{
    return errorAbort(loadText(IDS_ZIP_ERROR) + kBlankLine + systemText);
}

MessageSpec corruptFileMessage()
{
    return errorAbort(loadText(IDS_CORRUPT_FILE));
}

std::string crcTableMessageText(std::uint32_t tableCrc)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string hex(8, '0');
    for (int i = 7; i >= 0; --i) {
        hex[static_cast<std::size_t>(i)] = kHex[tableCrc & 0xFu];
        tableCrc >>= 4;
    }
    return loadText(IDS_CRC_TABLE_IS) + hex + loadText(IDS_CRC_TABLE_EXPECTING);
}
