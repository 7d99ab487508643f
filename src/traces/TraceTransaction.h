#pragma once
// One write transaction on the trace database: begun (BEGIN IMMEDIATE, waiting for other
// writers up to the busy timeout) when made, rolled back when it goes out of scope without
// a successful commit() — after an early return or an exception just the same.
// Used on the trace store's thread only, like its database.
namespace qv {

class TraceDatabase;

class TraceTransaction {
 public:
  explicit TraceTransaction(TraceDatabase& database);
  ~TraceTransaction();
  TraceTransaction(const TraceTransaction&) = delete;
  TraceTransaction& operator=(const TraceTransaction&) = delete;

  // False when the transaction could not begin; the database's lastError() says why.
  bool began() const { return began_; }
  // True once committed; on failure the transaction is rolled back at once.
  bool commit();

 private:
  TraceDatabase& database_;
  bool began_ = false;
  bool done_ = false;
};

}  // namespace qv
