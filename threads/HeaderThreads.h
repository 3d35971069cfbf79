#pragma once

#include "threads/MessageIdIndex.h"

#include <cstddef>
#include <string>

// Builds the threaded header tree of a group and its message-ID index in one pass over the
// group's table "Header". The window that shows the tree takes part through IHeaderTreeSink: it
// makes the items, hands back their identifiers and keeps the index entries.

// Working buffers of the fill; a longer value is cut to size - 1 bytes (and at a NUL byte). MESID
// and REF are read whole.
inline constexpr std::size_t kTreeNumBufferSize = 128;
inline constexpr std::size_t kTreeSubBufferSize = 256;
// READ only matters as empty or not; no field is longer than 255 characters.
inline constexpr std::size_t kTreeReadBufferSize = 256;
// REF is split at blanks into at most this many parts.
inline constexpr int kTreeRefParts = 64;

// Item images: unread and read, each with its selected form.
inline constexpr int kImageUnread = 0;
inline constexpr int kImageUnreadSelected = 1;
inline constexpr int kImageRead = 2;
inline constexpr int kImageReadSelected = 3;

// What the header tree window does during a fill. Before the fill the window empties the tree
// and the index and disables its commands; afterwards it enables them by state and resets the
// progress bar to 0..1 at 0. FillHeaderTree makes the calls below in between, in this order:
//   SetProgressRange(n); then for each pass i = 0..n: Step(i), and for a record that becomes an
//   item InsertItem, AppendIndexEntry, then (only for a "<...>" Message-ID) SetBold and
//   Expand(parent) when the article is not cached and the item has a parent, and SetIcon;
//   finally Expand of the first top-level item, when there is one. An item that could not be
//   made (identifier 0) gets no SetBold, Expand or SetIcon.
class IHeaderTreeSink {
public:
    virtual ~IHeaderTreeSink() = default;

    // The progress bar's range becomes 0..n (n = record count, 0 when the table is missing).
    virtual void SetProgressRange(int n) = 0;
    // Progress position i; the window handles waiting events so it stays alive.
    virtual void Step(int i) = 0;
    // Asked after each Step: true once the user asked to close the window, and the fill then
    // ends there as it would after its last record.
    virtual bool StopRequested() { return false; }
    // Adds an item with this label (Shift_JIS) as the last child of parentId, or as the last
    // top-level item when parentId is 0, shown in normal weight with the tree's first image.
    // Returns the item's identifier: a nonzero number the window finds the item by again; 0
    // only when no item could be made.
    virtual int InsertItem(int parentId, const std::string& label) = 0;
    // Appends an entry to the message-ID index ("%d %s ,%d", see FormatIndexEntry).
    virtual void AppendIndexEntry(const std::string& entry) = 0;
    // The item's article is not in the cache.
    virtual void SetBold(int id) = 0;
    virtual void Expand(int id) = 0;
    virtual void SetIcon(int id, int image, int selectedImage) = 0;
};

// Fills the header tree of the group in groupDir from its header database, reading the table
// record by record with one extra pass past the last record (which finds nothing), unless the
// sink asks it to stop. Every record
// with a Message-ID (MESID) becomes an item labelled "NUM SUB", placed under the item of the
// earliest earlier record whose MESID is the Message-ID named by its REF, else at the top level;
// nothing is moved afterwards. An empty cache file of an item is deleted. Returns the number of
// InsertItem calls (0 when the table cannot be opened).
int FillHeaderTree(const std::string& groupDir, IHeaderTreeSink& sink);

// The Message-ID a REF value names: the whole REF split at blanks (at most kTreeRefParts parts),
// then the part whose number is how many non-empty parts follow the first one without a gap. For
// the usual REF, one Message-ID without blanks, that is REF itself.
std::string WantedParentId(const std::string& ref);
