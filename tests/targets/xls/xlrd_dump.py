# Dumps .xls workbooks with xlrd, the independent reader the .xls engine is compared with.
# Usage: python3 xlrd_dump.py BOOK.xls... ; one line per fact, tab-separated, texts escaped:
#   F name | E message (xlrd refused the file) | V BIFF version (80: BIFF8) | D datemode
#   S index name
#   C row col kind value   (kind: n number, d date serial, s text, b boolean, e error code)
#   N name scope hidden builtin sheet rowlo rowhi collo colhi single
#     (sheet -1: xlrd finds no area; single 1: the formula is one 3-D reference, not an
#     intersection, union or function that xlrd also evaluates to an area)
import sys
import xlrd


def esc(text):
    return text.replace('\\', '\\\\').replace('\t', '\\t').replace('\n', '\\n').replace('\r', '\\r')


for path in sys.argv[1:]:
    print('F\t' + esc(path.rsplit('/', 1)[-1]))
    try:
        book = xlrd.open_workbook(path, logfile=open('/dev/null', 'w'))
    except Exception as error:  # refused by xlrd: encrypted, too old, not a workbook
        print('E\t' + esc(str(error)))
        continue
    print('V\t%d' % book.biff_version)
    print('D\t%d' % book.datemode)
    for index, sheet in enumerate(book.sheets()):
        print('S\t%d\t%s' % (index, esc(sheet.name)))
        for r in range(sheet.nrows):
            for c, cell in enumerate(sheet.row(r)):
                kind = cell.ctype
                if kind == xlrd.XL_CELL_NUMBER:
                    print('C\t%d\t%d\tn\t%r' % (r, c, float(cell.value)))
                elif kind == xlrd.XL_CELL_DATE:
                    print('C\t%d\t%d\td\t%r' % (r, c, float(cell.value)))
                elif kind == xlrd.XL_CELL_TEXT:
                    print('C\t%d\t%d\ts\t%s' % (r, c, esc(cell.value)))
                elif kind == xlrd.XL_CELL_BOOLEAN:
                    print('C\t%d\t%d\tb\t%d' % (r, c, int(cell.value)))
                elif kind == xlrd.XL_CELL_ERROR:
                    print('C\t%d\t%d\te\t%d' % (r, c, int(cell.value)))
    for name in book.name_obj_list:
        area = (-1, 0, 0, 0, 0)
        try:
            sheet, rlo, rhi, clo, chi = name.area2d(clipped=False)
            area = (book.sheets().index(sheet), rlo, rhi, clo, chi)
        except Exception:
            pass
        raw = bytearray(name.raw_formula)
        single = len(raw) in (7, 11) and raw[0] in (0x3A, 0x3B, 0x5A, 0x5B, 0x7A, 0x7B)
        print('N\t%s\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d' % ((esc(name.name), name.scope,
              int(name.hidden), int(name.builtin)) + area + (int(single),)))
