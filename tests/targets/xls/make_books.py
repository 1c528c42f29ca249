# Makes workbooks in the shapes other programs write them, for the .xls append tests.
# Usage: python3 make_books.py xlwt OUT.xls      (a workbook written by xlwt)
#        python3 make_books.py openpyxl OUT.xlsx (a workbook for LibreOffice to save as .xls:
#                                                  a named range and an AutoFilter)
import datetime
import sys


def xlwt_book(path):
    import xlwt
    book = xlwt.Workbook(encoding='utf-8')
    sheet = book.add_sheet('台帳')
    date_style = xlwt.easyxf(num_format_str='yyyy/mm/dd')
    money_style = xlwt.easyxf(num_format_str='#,##0.00')
    for c, title in enumerate(['品名', '数量', '日付', '単価', '済']):
        sheet.write(0, c, title)
    for r in range(1, 41):
        sheet.write(r, 0, '品目 %d' % r)
        sheet.write(r, 1, r * 3)
        sheet.write(r, 2, datetime.date(2020, 1, 1) + datetime.timedelta(days=r), date_style)
        sheet.write(r, 3, r * 1.25, money_style)
        sheet.write(r, 4, r % 2 == 0)
    other = book.add_sheet('Other')
    other.write(0, 0, 'keep')
    other.write(1, 0, 42)
    book.save(path)


def openpyxl_book(path):
    import openpyxl
    from openpyxl.workbook.defined_name import DefinedName
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = 'Data'
    sheet.append(['Name', 'Count', 'When', 'Flag'])
    for r in range(1, 11):
        sheet.append(['name %d' % r, r, datetime.datetime(2021, 3, r, 8, 30), r % 3 == 0])
    for r in range(2, 12):
        sheet.cell(row=r, column=3).number_format = 'yyyy-mm-dd hh:mm'
    sheet.auto_filter.ref = 'A1:D11'
    book.defined_names.append(DefinedName('Stock', attr_text='Data!$A$1:$D$11'))
    second = book.create_sheet('Second')
    second.append(['x', 'y'])
    second.append([1, 'two'])
    book.save(path)


{'xlwt': xlwt_book, 'openpyxl': openpyxl_book}[sys.argv[1]](sys.argv[2])
