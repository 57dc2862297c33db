// The desktop program's use of the file-info store config/FileInfo.dat. Each call
// opens its own connection and closes it again. Messages about the config
// directory go to the user through the view.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/filestore.h"
#include "common/reporter.h"
#include "desktop_context.h"
#include "main_view.h"

namespace mdb::desktop {

// Shared code reports through this: an OK box with the question icon.
class ViewReporter : public MessageReporter {
  public:
    explicit ViewReporter(MainView& view) : view_(view) {}
    void ShowMessage(std::string_view text) override;

  private:
    MainView& view_;
};

// Keeps messages for later, for code that must not wait for the user meanwhile.
class CollectingReporter : public MessageReporter {
  public:
    void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
    std::vector<std::string> messages;
};

// The store of the program directory; null after a message (program or config
// directory unusable) or when the file cannot be opened.
std::unique_ptr<FileInfoDb> OpenFileInfoStore(const DesktopContext& ctx, MessageReporter& reporter);
// The same, with messages shown at once as question boxes of the view.
std::unique_ptr<FileInfoDb> OpenFileInfoStore(const DesktopContext& ctx, MainView& view);

// At most `limit` records ordered by `sortField` `sortOrder` ("asc"/"desc"), then by
// filename ascending. File names and paths are ordered by their decoded text (as
// the list shows them), not by the stored Base64 text. False on failure.
bool ReadFileListRecords(const DesktopContext& ctx, MessageReporter& reporter,
                        const std::string& sortField, const std::string& sortOrder,
                        std::size_t limit, std::vector<FileInfoRecord>& records);

// Sorts records in place as ReadFileListRecords does (without the limit); false for
// an unknown field.
bool SortFileListRecords(std::vector<FileInfoRecord>& records, const std::string& sortField,
                         const std::string& sortOrder);

// `filepath` (stored text) of the newest record with this filenameid; nothing when there
// is none or the store cannot be read (the user has been told).
std::optional<std::string> LookupFilePathByKey(const DesktopContext& ctx, MainView& view,
                                               const std::string& key);

// Deletes every record; false when that failed.
bool DeleteAllRecords(const DesktopContext& ctx, MainView& view);

}  // namespace mdb::desktop
