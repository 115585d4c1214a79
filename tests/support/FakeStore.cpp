#include "FakeStore.h"

#include <algorithm>
#include <cstring>

#include "common/ResultCodes.h"

namespace imbrex::test {

namespace {

std::string withArgument(const char *name, uint64_t argument)
{
    return std::string(name) + "(" + std::to_string(argument) + ")";
}

// Copies text into a buffer of size bytes, cut to fit and NUL-terminated.
int copyText(const std::string &text, char *buffer, uint32_t size)
{
    if (size == 0)
        return rc::kInvalidArgument;
    size_t length = std::min<size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return 0;
}

} // namespace

std::vector<std::string> FakeStore::callsStartingWith(const std::string &prefix) const
{
    std::vector<std::string> found;
    for (const std::string &call : calls)
        if (call.rfind(prefix, 0) == 0)
            found.push_back(call);
    return found;
}

bool FakeStore::everySelectionReleased() const
{
    bool selected = false;
    for (const std::string &call : calls) {
        if (call.rfind("SelectPartition", 0) == 0) {
            if (selected)
                return false;
            selected = true;
        } else if (call.rfind("ReleasePartition", 0) == 0) {
            selected = false;
        }
    }
    return !selected;
}

FakePartition *FakeStore::current()
{
    return m_current == 0 ? nullptr : &partitions[m_current - 1];
}

template <typename T> int FakeStore::getAttribute(const char *name, T *out, T FakePartition::*member)
{
    record(name);
    FakePartition *partition = current();
    if (!partition)
        return rc::kNoPartitionSelected;
    *out = partition->*member;
    return 0;
}

int FakeStore::setAttribute(const char *name, uint32_t value, uint32_t FakePartition::*member)
{
    record(name);
    FakePartition *partition = current();
    if (!partition)
        return rc::kNoPartitionSelected;
    partition->*member = value;
    return 0;
}

void FakeStore::Destroy()
{
    record("Destroy");
    destroyed = true;
}

int FakeStore::Close()
{
    record("Close");
    return closeError;
}

uint32_t FakeStore::GetPartitionCount()
{
    record("GetPartitionCount");
    return static_cast<uint32_t>(partitions.size());
}

int FakeStore::AddPartition(uint32_t typeId, uint32_t fileSystemType, uint32_t sectorCount, char driveLetter,
                            uint32_t compression, uint32_t)
{
    record("AddPartition");
    FakePartition partition;
    partition.typeId = typeId;
    partition.fileSystemType = fileSystemType;
    partition.sectorCount = sectorCount;
    partition.driveLetter = driveLetter;
    partition.compression = compression;
    partitions.push_back(partition);
    m_current = partitions.size();
    return 0;
}

int FakeStore::SelectPartition(uint32_t number, uint32_t)
{
    record(withArgument("SelectPartition", number));
    if (number == 0 || number > partitions.size()) {
        m_current = 0;
        return rc::kBadPartitionNumber;
    }
    m_current = number;
    return partitions[number - 1].selectError;
}

int FakeStore::DeleteCurrentPartition()
{
    record("DeleteCurrentPartition");
    if (m_current == 0)
        return rc::kNoPartitionSelected;
    partitions.erase(partitions.begin() + static_cast<std::ptrdiff_t>(m_current - 1));
    m_current = 0;
    return 0;
}

int FakeStore::ReadBlockBitmap(void *buffer, uint32_t size, uint32_t *, uint32_t *bytesRead)
{
    record("ReadBlockBitmap(" + std::to_string(size) + ")");
    if (int e = fault("ReadBlockBitmap"))
        return e;
    FakePartition *partition = current();
    if (!partition)
        return rc::kNoPartitionSelected;
    size_t n = std::min<size_t>(size, partition->bitmap.size());
    if (n)
        std::memcpy(buffer, partition->bitmap.data(), n);
    *bytesRead = static_cast<uint32_t>(n);
    return 0;
}
int FakeStore::ReadBlockBitmapRaw(void *, uint32_t, uint32_t *, uint32_t *)
{
    return recordOk("ReadBlockBitmapRaw");
}
int FakeStore::WriteBlockBitmap(const void *, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t)
{
    return recordOk("WriteBlockBitmap");
}
int FakeStore::WriteBlockBitmapRaw(const void *, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t)
{
    return recordOk("WriteBlockBitmapRaw");
}
int FakeStore::SeekData(uint32_t positionLow, uint32_t positionHigh)
{
    uint64_t position = (uint64_t{positionHigh} << 32) | positionLow;
    record(withArgument("SeekData", position));
    if (int e = fault("SeekData"))
        return e;
    FakePartition *partition = current();
    if (!partition)
        return rc::kNoPartitionSelected;
    if (position > partition->stream.size())
        return rc::kInvalidArgument;
    m_position = position;
    m_needState = partition->decoderStateSize != 0;
    return 0;
}
int FakeStore::ReadData(void *buffer, uint32_t size, uint32_t *bytesRead)
{
    record(withArgument("ReadData", size));
    if (int e = fault("ReadData"))
        return e;
    FakePartition *partition = current();
    if (!partition) {
        *bytesRead = 0;
        return 0;
    }
    if (m_needState)
        return rc::kDataDamaged;
    size_t left = partition->stream.size() - std::min<size_t>(m_position, partition->stream.size());
    size_t n = std::min<size_t>(size, left);
    if (n)
        std::memcpy(buffer, partition->stream.data() + m_position, n);
    m_position += n;
    *bytesRead = static_cast<uint32_t>(n);
    return 0;
}
int FakeStore::ReadRawData(void *, uint32_t, uint32_t *bytesRead, uint32_t *)
{
    record("ReadRawData");
    *bytesRead = 0;
    return 0;
}
int FakeStore::WriteData(const void *, uint32_t size, uint32_t *bytesWritten)
{
    record("WriteData");
    *bytesWritten = size;
    return 0;
}
int FakeStore::WriteRawData(const void *, uint32_t size, uint32_t *bytesWritten, uint32_t)
{
    record("WriteRawData");
    *bytesWritten = size;
    return 0;
}

int FakeStore::GetImageName(char *buffer, uint32_t size)
{
    record(withArgument("GetImageName", size));
    return copyText(imageName, buffer, size);
}
int FakeStore::SetImageName(const char *text)
{
    record("SetImageName");
    if (int e = fault("SetImageName"))
        return e;
    imageName = text;
    return 0;
}
int FakeStore::GetImageComment(char *buffer, uint32_t size)
{
    record(withArgument("GetImageComment", size));
    return copyText(imageComment, buffer, size);
}
int FakeStore::SetImageComment(const char *text)
{
    record("SetImageComment");
    imageComment = text;
    return 0;
}

int FakeStore::GetPartitionName(char *buffer, uint32_t size)
{
    record(withArgument("GetPartitionName", size));
    FakePartition *partition = current();
    return partition ? copyText(partition->name, buffer, size) : rc::kNoPartitionSelected;
}
int FakeStore::SetNewPartitionName(const char *text)
{
    return SetPartitionName(text);
}
int FakeStore::SetPartitionName(const char *text)
{
    record("SetPartitionName");
    FakePartition *partition = current();
    if (!partition)
        return rc::kNoPartitionSelected;
    partition->name = text;
    return 0;
}
int FakeStore::GetPartitionComment(char *buffer, uint32_t size)
{
    record(withArgument("GetPartitionComment", size));
    FakePartition *partition = current();
    return partition ? copyText(partition->comment, buffer, size) : rc::kNoPartitionSelected;
}
int FakeStore::SetNewPartitionComment(const char *text)
{
    return SetPartitionComment(text);
}
int FakeStore::SetPartitionComment(const char *text)
{
    record("SetPartitionComment");
    FakePartition *partition = current();
    if (!partition)
        return rc::kNoPartitionSelected;
    partition->comment = text;
    return 0;
}

int FakeStore::GetPartitionTypeId(uint32_t *out)
{
    return getAttribute("GetPartitionTypeId", out, &FakePartition::typeId);
}
int FakeStore::GetFileSystemType(uint32_t *out)
{
    return getAttribute("GetFileSystemType", out, &FakePartition::fileSystemType);
}
int FakeStore::GetBlockCount(uint32_t *out)
{
    return getAttribute("GetBlockCount", out, &FakePartition::blockCount);
}
int FakeStore::GetSectorsPerBlock(uint32_t *out)
{
    return getAttribute("GetSectorsPerBlock", out, &FakePartition::sectorsPerBlock);
}
int FakeStore::GetSectorSize(uint32_t *out)
{
    return getAttribute("GetSectorSize", out, &FakePartition::sectorSize);
}
int FakeStore::GetPartitionDate(uint16_t *year, uint16_t *month, uint16_t *day)
{
    record("GetPartitionDate");
    FakePartition *partition = current();
    if (!partition)
        return rc::kNoPartitionSelected;
    *year = partition->year;
    *month = partition->month;
    *day = partition->day;
    return 0;
}
int FakeStore::SetPartitionDate(uint16_t year, uint16_t month, uint16_t day)
{
    record("SetPartitionDate");
    FakePartition *partition = current();
    if (!partition)
        return rc::kNoPartitionSelected;
    partition->year = year;
    partition->month = month;
    partition->day = day;
    return 0;
}
int FakeStore::GetStoredSize(uint32_t *low, uint32_t *high, uint32_t)
{
    record("GetStoredSize");
    FakePartition *partition = current();
    if (!partition)
        return rc::kNoPartitionSelected;
    *low = static_cast<uint32_t>(partition->storedSize);
    *high = static_cast<uint32_t>(partition->storedSize >> 32);
    return 0;
}

int FakeStore::GetPartitionAttributeA(uint32_t *out)
{
    return recordOut("GetPartitionAttributeA", out, 0);
}
int FakeStore::SetPartitionAttributeA(uint32_t)
{
    return recordOk("SetPartitionAttributeA");
}
int FakeStore::GetPartitionKind(uint32_t *out)
{
    return getAttribute("GetPartitionKind", out, &FakePartition::kind);
}
int FakeStore::SetPartitionKind(uint32_t value)
{
    return setAttribute("SetPartitionKind", value, &FakePartition::kind);
}
int FakeStore::GetSectorCount(uint32_t *out)
{
    return getAttribute("GetSectorCount", out, &FakePartition::sectorCount);
}
int FakeStore::GetDriveLetter(char *out)
{
    return getAttribute("GetDriveLetter", out, &FakePartition::driveLetter);
}
int FakeStore::GetCompression(uint32_t *out)
{
    return getAttribute("GetCompression", out, &FakePartition::compression);
}
int FakeStore::GetMinimumBufferSize(uint32_t *out)
{
    return recordOut("GetMinimumBufferSize", out, 65536);
}
int FakeStore::GetUsedBlockCount(uint32_t *out)
{
    return getAttribute("GetUsedBlockCount", out, &FakePartition::usedBlockCount);
}
int FakeStore::ReleasePartition(uint32_t value)
{
    record(withArgument("ReleasePartition", value));
    m_current = 0;
    return 0;
}

int FakeStore::GetPartitionPassword(uint32_t *out)
{
    return getAttribute("GetPartitionPassword", out, &FakePartition::password);
}
int FakeStore::SetPartitionPassword(uint32_t value)
{
    return setAttribute("SetPartitionPassword", value, &FakePartition::password);
}
int FakeStore::GetLastUsedBlock(uint32_t *out)
{
    return getAttribute("GetLastUsedBlock", out, &FakePartition::lastUsedBlock);
}
int FakeStore::SetLastUsedBlock(uint32_t)
{
    return recordOk("SetLastUsedBlock");
}
int FakeStore::GetPartitionAttributeB(uint32_t *out)
{
    return recordOut("GetPartitionAttributeB", out, 0);
}
int FakeStore::SetPartitionAttributeB(uint32_t)
{
    return recordOk("SetPartitionAttributeB");
}
int FakeStore::GetPartitionAttributeC(uint32_t *out)
{
    return recordOut("GetPartitionAttributeC", out, 0);
}
int FakeStore::SetPartitionAttributeC(uint32_t)
{
    return recordOk("SetPartitionAttributeC");
}
int FakeStore::GetPartitionAttributeD(uint32_t *out)
{
    return recordOut("GetPartitionAttributeD", out, 0);
}
int FakeStore::SetPartitionAttributeD(uint32_t)
{
    return recordOk("SetPartitionAttributeD");
}

int FakeStore::ResetStream()
{
    record("ResetStream");
    if (int e = fault("ResetStream"))
        return e;
    m_position = 0;
    m_needState = false;
    return 0;
}
int FakeStore::ResetPartitionSelection(uint32_t value)
{
    record(withArgument("ResetPartitionSelection", value));
    m_current = 0;
    return 0;
}
int FakeStore::IsReadOnly(uint32_t *out)
{
    record("IsReadOnly");
    *out = readOnly ? 1 : 0;
    return 0;
}
int FakeStore::IsSpanned(uint32_t *out)
{
    return getAttribute("IsSpanned", out, &FakePartition::spanned);
}

uint64_t FakeStore::GetDataPosition()
{
    record("GetDataPosition");
    return m_position;
}
int FakeStore::GetTailByteCount(uint32_t *out)
{
    record("GetTailByteCount");
    if (int e = fault("GetTailByteCount"))
        return e;
    *out = 0;
    FakePartition *partition = current();
    if (partition && partition->tailBytes) {
        uint64_t chunk = 65536 + uint64_t{partition->tailBytes};
        if (m_position % chunk == 65536 && m_position < partition->stream.size())
            *out = static_cast<uint32_t>(
                std::min<uint64_t>(partition->tailBytes, partition->stream.size() - m_position));
    }
    return 0;
}
int FakeStore::SaveDecoderState(void *buffer)
{
    record("SaveDecoderState");
    if (int e = fault("SaveDecoderState"))
        return e;
    FakePartition *partition = current();
    if (partition && partition->decoderStateSize >= 8) {
        auto *bytes = static_cast<uint8_t *>(buffer);
        std::memset(bytes, 0xA5, partition->decoderStateSize);
        for (int i = 0; i < 8; ++i)
            bytes[i] = static_cast<uint8_t>(m_position >> (8 * i));
    }
    return 0;
}
int FakeStore::RestoreDecoderState(const void *buffer)
{
    record("RestoreDecoderState");
    if (int e = fault("RestoreDecoderState"))
        return e;
    FakePartition *partition = current();
    if (!partition || partition->decoderStateSize < 8)
        return 0;
    const auto *bytes = static_cast<const uint8_t *>(buffer);
    uint64_t position = 0;
    for (int i = 0; i < 8; ++i)
        position |= uint64_t{bytes[i]} << (8 * i);
    if (position != m_position)
        return rc::kDataDamaged;
    m_needState = false;
    return 0;
}
int FakeStore::GetDecoderStateSize(uint32_t *out)
{
    return getAttribute("GetDecoderStateSize", out, &FakePartition::decoderStateSize);
}
int FakeStore::GetImageId(uint32_t *out)
{
    return recordOut("GetImageId", out, imageId);
}
int FakeStore::GetPartitionNumber(uint32_t *out)
{
    record("GetPartitionNumber");
    *out = static_cast<uint32_t>(m_current);
    return 0;
}
int FakeStore::BuildSpanTable()
{
    record("BuildSpanTable");
    return buildSpanTableError;
}
int FakeStore::SetSpanTable(uint32_t count, const void *records)
{
    record(withArgument("SetSpanTable", count));
    if (setSpanTableError)
        return setSpanTableError;
    if (size_t{count} * 8 != spanRecords.size() ||
        (count && std::memcmp(records, spanRecords.data(), spanRecords.size()) != 0))
        return rc::kInvalidArgument;
    return 0;
}
int FakeStore::GetSpanTable(uint32_t *count, const void **records)
{
    record("GetSpanTable");
    *count = static_cast<uint32_t>(spanRecords.size() / 8);
    *records = spanRecords.empty() ? nullptr : spanRecords.data();
    return 0;
}
int FakeStore::SetCheckpointOffset(uint32_t offset)
{
    record(withArgument("SetCheckpointOffset", offset));
    lastCheckpointOffset = offset;
    return fault("SetCheckpointOffset");
}
int FakeStore::SetTailShortfall(uint32_t shortfall)
{
    record(withArgument("SetTailShortfall", shortfall));
    lastTailShortfall = shortfall;
    return fault("SetTailShortfall");
}
int FakeStore::LocateChunk(uint64_t position, uint64_t *decodedStart, uint32_t *decodedLength)
{
    record("LocateChunk");
    if (int e = fault("LocateChunk"))
        return e;
    FakePartition *partition = current();
    if (!partition)
        return rc::kNoPartitionSelected;
    // Chunks of 65536 decoded bytes and their tail, one after the other.
    const uint64_t chunk = 65536 + uint64_t{partition->tailBytes};
    const uint64_t end = partition->stream.size();
    if (position > end || (position % chunk != 0 && position != end))
        return rc::kInvalidArgument;
    *decodedStart = position;
    *decodedLength = static_cast<uint32_t>(std::min(chunk, end - position));
    return 0;
}

size_t FakeStore::count(const std::string &operation) const
{
    for (const auto &entry : m_counts)
        if (entry.first == operation)
            return entry.second;
    return 0;
}

int FakeStore::fault(const std::string &operation)
{
    size_t seen = 0;
    for (auto &entry : m_counts)
        if (entry.first == operation)
            seen = ++entry.second;
    if (seen == 0) {
        m_counts.emplace_back(operation, 1);
        seen = 1;
    }
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->operation != operation)
            continue;
        if (--it->nth <= 0) {
            int code = it->code;
            faults.erase(it);
            return code;
        }
    }
    return 0;
}

} // namespace imbrex::test
