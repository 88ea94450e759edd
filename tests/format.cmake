# Tests of the date/time formatter and locale data.
