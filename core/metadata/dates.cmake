# Sources of the section reader, EXIF parser and date selection.
