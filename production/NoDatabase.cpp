#include "production/RecordStore.h"

// A build without the database libraries: every store refuses to open, and says why.
namespace {

class Unavailable : public LocalRecordStore {
 public:
  explicit Unavailable(std::string name) : What(std::move(name)) {}
  bool Open(std::string& why) override {
    why = "this kelvarin-cli was built without the record";
    return false;
  }
  bool Put(const BoxRecord&, std::string& why) override { return Open(why); }
  bool Keep(const BoxRecord&, std::string& why) override { return Open(why); }
  int MarkInterrupted(const StationSelf&, const AliveTest&, std::string& why) override {
    return Open(why) ? 0 : -1;
  }
  bool Rows(const RecordFilter&, bool, std::vector<BoxRecord>&, std::string& why) override {
    return Open(why);
  }
  bool Unforwarded(std::vector<BoxRecord>&, std::string& why) override { return Open(why); }
  bool MarkForwarded(const BoxRecord&, std::string& why) override { return Open(why); }
  std::string Name() const override { return What; }
  bool Listen(std::string& why) override { return Open(why); }
  int News(std::vector<std::string>&, std::string& why) override { return Open(why) ? 0 : -1; }

 private:
  std::string What;
};

}  // namespace

std::string ServerAddressProblem(const std::string&) {
  return {};
}

bool RecordAvailable() {
  return false;
}

std::unique_ptr<LocalRecordStore> SqliteRecord(const std::string& path) {
  return std::make_unique<Unavailable>(path);
}

std::unique_ptr<RecordStore> PostgresRecord(const std::string& conninfo) {
  return std::make_unique<Unavailable>(conninfo);
}
