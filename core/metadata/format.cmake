# Sources of the date/time formatter and the locale data.
