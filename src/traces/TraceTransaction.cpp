#include "traces/TraceTransaction.h"

#include "traces/TraceDatabase.h"

namespace qv {

TraceTransaction::TraceTransaction(TraceDatabase& database)
    : database_(database), began_(database.begin()) {}

TraceTransaction::~TraceTransaction() {
  if (began_ && !done_) database_.rollback();
}

bool TraceTransaction::commit() {
  if (!began_ || done_) return false;
  done_ = true;
  return database_.commit();  // rolls back by itself when the commit fails
}

}  // namespace qv
