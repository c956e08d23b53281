#pragma once

namespace velmor::metadata {

// Attribute names of the metadata index, as queries and items spell them.
inline constexpr const char* NSMetadataItemFSNameKey = "kMDItemFSName";
inline constexpr const char* NSMetadataItemFSSizeKey = "kMDItemFSSize";
inline constexpr const char* NSMetadataItemPathKey = "kMDItemPath";
inline constexpr const char* NSMetadataItemLastUsedDateKey = "kMDItemLastUsedDate";
inline constexpr const char* NSMetadataItemFSCreationDateKey = "kMDItemFSCreationDate";
inline constexpr const char* NSMetadataItemContentCreationDateKey = "kMDItemContentCreationDate";
inline constexpr const char* NSMetadataItemDateAddedKey = "kMDItemDateAdded";
inline constexpr const char* NSMetadataItemAttributeChangeDateKey = "kMDItemAttributeChangeDate";
inline constexpr const char* NSMetadataItemDueDateKey = "kMDItemDueDate";
inline constexpr const char* NSMetadataItemFSContentChangeDateKey = "kMDItemFSContentChangeDate";
inline constexpr const char* NSMetadataItemContentModificationDateKey = "kMDItemContentModificationDate";
inline constexpr const char* NSMetadataItemDownloadedDateKey = "kMDItemDownloadedDate";

} // namespace velmor::metadata
