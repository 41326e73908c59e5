// The queries of a person's session: sign-in lookup and daily credit, the session row and its
// survey answers, the status poll and the closing update.
#pragma once

#include "fonction/db_link.h"
#include "fonction/session_record.h"

// Finds the account with this login and password digest. Writes the outputs only when one
// matches: lookup_outcome 1 when it has no open session row, 2 when it has at least one.
void lookup_account(DbLink& link, const char* login, const char* digest, int& id_user, int& status_user,
                    int& lookup_outcome);

// Minutes of credit left today: the allowance less every session row of today not closed normally.
// An allowance that cannot be read gives no credit.
void compute_credit(DbLink& link, int id_user, int& credit_minutes);

// Writes an open session row (status 0) opened now; id_resa is written only when the row was added.
void open_session_row(DbLink& link, int id_computer, int id_user, int planned_duration, int& id_resa);

// One answer of the usage survey, by the caption of its box (at most 499 characters).
void record_usage_answer(DbLink& link, const char* caption, int id_user);

// polled_status gets the row's status; unchanged when the server cannot be asked or the row is gone,
// 1 when the answer cannot be read.
void poll_session_status(DbLink& link, int id_user, int id_resa, int& polled_status);

// Closes a session row with its duration in minutes and closing status; false when the update failed.
bool close_session_row(DbLink& link, int duration_minutes, int closing_status, int id_resa);

// At start-up, with no session open on this station, settles the record a station that died left
// behind: sends each pending close whose row is still open (status 0) for its account, with a
// duration of at most max_settled_minutes (any other is dropped), then closes the open session's row
// if it is still open, as close_of gives. A row closed from outside meanwhile, or gone, is left as it is.
// Returns what is still to keep: the closes the server did not take and, when the server could not tell the
// row's status (no answer, or a status that is not an integer), the open session unchanged, to be settled by
// a later attempt. After the first close the server refuses, the rest is kept untried: the server is away,
// and each attempt could wait for the connection timeout.
SessionRecord settle_session_record(DbLink& link, const SessionRecord& left);
