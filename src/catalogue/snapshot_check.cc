#include "catalogue/snapshot_check.h"

#include <errno.h>

#include <cstring>
#include <string>

#include "platform/file.h"

namespace rondel {
namespace snapshot {

namespace {

// A field's bytes up to its first zero (at most `size`), in quotes, with
// anything but printable ASCII as \xNN: a damaged header is shown as it is.
std::string Quoted(const char* field, size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown = "\"";
  for (size_t i = 0; i < size && field[i] != '\0'; ++i) {
    const unsigned char byte = static_cast<unsigned char>(field[i]);
    if (byte < 0x20 || byte >= 0x7f || byte == '"' || byte == '\\') {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 0x0f];
    } else {
      shown += static_cast<char>(byte);
    }
  }
  return shown + "\"";
}

std::string Beyond(const char* field, int32_t value, int32_t capacity) {
  return std::string(field) + " " + std::to_string(value) +
         (value < 0 ? " negative" : " beyond " + std::to_string(capacity));
}

TableCheck Fail(TableCheck check, TableFault fault, const char* file_name,
                const std::string& what, int error_number = 0) {
  check.ok = false;
  check.fault = fault;
  check.error_number = error_number;
  check.reason = std::string(file_name) + ": " + what;
  if (error_number != 0) {
    check.reason += std::string(" (") + std::strerror(error_number) + ")";
  }
  return check;
}

}  // namespace

std::string RecordShapeFault(Table table, int32_t record_count,
                             int32_t record_size) {
  const TableFormat& format = kTables[table];
  if (record_size != format.record_size) {
    return "record size " + std::to_string(record_size) + ", " +
           std::to_string(format.record_size) + " expected";
  }
  if (record_count < 0 || record_count > format.capacity) {
    return Beyond("record count", record_count, format.capacity);
  }
  return std::string();
}

std::string StoredCounterFault(const TableRecords& counters) {
  struct Counter {
    const char* name;
    int32_t value;
    int32_t capacity;
  } const kCounters[] = {
      {"MediaCount", counters.MediaCount, kMediaCapacity},
      {"RoomCount", counters.RoomCount, kRoomCapacity},
      {"FileServerCount", counters.FileServerCount, kFileServerCapacity},
  };
  std::string fault;
  for (const Counter& c : kCounters) {
    if (c.value >= 0 && c.value <= c.capacity) continue;
    if (!fault.empty()) fault += ", ";
    fault += Beyond(c.name, c.value, c.capacity);
  }
  return fault;
}

TableCheck CheckTableFile(const std::string& path, Table table,
                          const RecordDestination& destination) {
  const char* file_name = kTables[table].file_name;
  TableCheck check;
  errno = 0;
  platform::File file = platform::File::OpenForRead(path);
  if (!file.valid()) {
    const int error_number = errno;
    if (error_number == ENOENT) {
      check = Fail(check, TableFault::kCannotOpen, file_name, "missing");
      check.error_number = error_number;
      return check;
    }
    return Fail(check, TableFault::kCannotOpen, file_name, "cannot be opened",
                error_number);
  }

  // The header is read field by field, each checked as it arrives, so a file
  // that is both short and wrong fails on what comes first.
  size_t header_read = 0;
  auto read_field = [&](void* field, size_t size) {
    errno = 0;
    const size_t got = file.Read(field, size);
    header_read += got;
    return got == size;
  };
  auto short_header = [&]() {
    return Fail(check, TableFault::kShortHeader, file_name,
                "header of " + std::to_string(header_read) + " bytes, " +
                    std::to_string(kHeaderSize) + " expected",
                errno);
  };

  char magic[kMagicSize] = {};
  if (!read_field(magic, kMagicSize)) return short_header();
  if (std::memcmp(magic, kMagic, kMagicCompared) != 0) {
    // Up to seven bytes: the seventh must be the terminator.
    return Fail(
        check, TableFault::kBadMagic, file_name,
        "magic " + Quoted(magic, kMagicCompared) + ", \"TABLE:\" expected");
  }
  // One spare zero byte, so that the field compares as a terminated string.
  char name_field[kTableNameSize + 1] = {};
  if (!read_field(name_field, kTableNameSize)) return short_header();
  if (std::strcmp(name_field, kTables[table].table_name) != 0) {
    return Fail(check, TableFault::kWrongName, file_name,
                "table name " + Quoted(name_field, kTableNameSize) + ", \"" +
                    kTables[table].table_name + "\" expected");
  }
  int32_t count = 0;
  int32_t size = 0;
  if (!read_field(&count, sizeof count)) return short_header();
  if (!read_field(&size, sizeof size)) return short_header();
  check.record_count = count;
  check.record_size = size;

  const std::string shape = RecordShapeFault(table, count, size);
  if (!shape.empty()) {
    return Fail(check,
                size != kTables[table].record_size
                    ? TableFault::kWrongRecordSize
                    : TableFault::kRecordCountOutOfRange,
                file_name, shape);
  }
  void* first = destination(count);
  if (first == nullptr) {
    return Fail(check, TableFault::kRefused, file_name,
                "no room for " + std::to_string(count) + " records");
  }
  const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(size);
  if (bytes > 0) {
    errno = 0;
    const size_t got = file.Read(first, bytes);
    if (got != bytes) {
      const int error_number = errno;
      // Half-read records must never be served.
      std::memset(first, 0, bytes);
      return Fail(check, TableFault::kShortRecords, file_name,
                  std::to_string(got) + " bytes of records, " +
                      std::to_string(bytes) + " expected",
                  error_number);
    }
  }
  // A TABLE_RECORDS file counting no record brings no counters: there is
  // nothing at `first` to check (the destination was asked for no bytes).
  if (table == kTableRecords && count > 0) {
    TableRecords counters;
    std::memcpy(&counters, first, sizeof counters);
    const std::string fault = StoredCounterFault(counters);
    if (!fault.empty()) {
      return Fail(check, TableFault::kCounterOutOfRange, file_name, fault);
    }
  }
  check.ok = true;
  return check;
}

TableRecords CountersServed(const TableRecords& stored,
                            const int32_t (&records_loaded)[kTableCount]) {
  TableRecords served = stored;
  auto lower = [&](int32_t& counter, Table table) {
    if (counter > records_loaded[table]) counter = records_loaded[table];
  };
  lower(served.MediaCount, kMedias);
  lower(served.RoomCount, kRooms);
  lower(served.FileServerCount, kFileServers);
  return served;
}

}  // namespace snapshot
}  // namespace rondel
