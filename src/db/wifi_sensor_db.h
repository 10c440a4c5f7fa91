// The in-memory device database: six tables whose row i all describe sensor index i.
// Columns are defined by each table's head row (name, kind, default).
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace hygro {

enum ValueKind : int { kKindInt = 1, kKindDouble = 2, kKindString = 3 };

class CValueBase_WiFiSensor {
  public:
    explicit CValueBase_WiFiSensor(int kind) : m_kind(kind) {}
    // Cells are owned through base pointers, so destruction must dispatch.
    virtual ~CValueBase_WiFiSensor() = default;
    int GetKind() const { return m_kind; }

  private:
    int m_kind;
};

class CValueInt_WiFiSensor : public CValueBase_WiFiSensor {
  public:
    explicit CValueInt_WiFiSensor(int v = 0) : CValueBase_WiFiSensor(kKindInt), m_value(v) {}
    int GetValue() const { return m_value; }
    void SetValue(int v) { m_value = v; }

  private:
    int m_value;
};

class CValueDouble_WiFiSensor : public CValueBase_WiFiSensor {
  public:
    explicit CValueDouble_WiFiSensor(double v = 0.0) : CValueBase_WiFiSensor(kKindDouble), m_value(v) {}
    double GetValue() const { return m_value; }
    void SetValue(double v) { m_value = v; }

  private:
    double m_value;
};

class CValueString_WiFiSensor : public CValueBase_WiFiSensor {
  public:
    explicit CValueString_WiFiSensor(std::string v = {})
        : CValueBase_WiFiSensor(kKindString), m_value(std::move(v)) {}
    const std::string& GetValue() const { return m_value; }
    void SetValue(std::string v) { m_value = std::move(v); }

  private:
    std::string m_value;
};

class CTable_WiFiSensorDB;

class CRow_DB_WiFiSensor {
  public:
    int GetKind(std::string name, int& kind) const;
    int GetValue(std::string name, int& value) const;
    int GetValue(std::string name, double& value) const;
    int GetValue(std::string name, std::string& value) const;
    // table == nullptr adds a missing column (how heads are built).
    int SetValue(const CTable_WiFiSensorDB* table, std::string name, int value);
    int SetValue(const CTable_WiFiSensorDB* table, std::string name, double value);
    int SetValue(const CTable_WiFiSensorDB* table, std::string name, std::string value);
    int SetValue(const CTable_WiFiSensorDB* table, std::string name, const char* value) {
        return SetValue(table, std::move(name), std::string(value));
    }
    int AddColumnLikeHead(const CRow_DB_WiFiSensor& head);
    void ClearMem();
    std::size_t ColumnCount() const { return m_cells.size(); }

  private:
    std::map<std::string, std::unique_ptr<CValueBase_WiFiSensor>> m_cells;
};

class CTable_WiFiSensorDB {
  public:
    int InitDev();
    int InitPic();
    int InitLumo();
    int InitNet();
    int InitTable();
    int InitTree();

    int GetRowCount() const;
    // Throws std::out_of_range for an index outside 0 .. count-1.
    CRow_DB_WiFiSensor* GetRow(int index) const;
    // index -1 or count appends; returns the new row's index, -1 on failure.
    int AddOneRow(int index = -1);
    // Inserts when 0 <= index < count, otherwise appends; the table takes ownership.
    void AddRow(int index, std::unique_ptr<CRow_DB_WiFiSensor> row);
    // Detaches the row for the caller; null when index is out of range.
    std::unique_ptr<CRow_DB_WiFiSensor> RemoveRow(int index);
    int DeleteRow(int index);

    int SetTableColumnValue(const std::string& name, int value);
    int SetTableColumnValue(const std::string& name, double value);
    int SetTableColumnValue(const std::string& name, const std::string& value);

    int GetHeadKind(const std::string& name, int& kind) const;
    int GetHeadDefaultValue(const std::string& name, int& value) const;
    int GetHeadDefaultValue(const std::string& name, double& value) const;
    int GetHeadDefaultValue(const std::string& name, std::string& value) const;

    const CRow_DB_WiFiSensor& Head() const { return m_head; }
    void ClearRowMem();
    void ClearHeadMem();
    void ClearMem();

  private:
    CRow_DB_WiFiSensor m_head;
    std::vector<std::unique_ptr<CRow_DB_WiFiSensor>> m_rows;
};

class CWiFiSensorDatabase {
  public:
    CTable_WiFiSensorDB* GetDevDB() { return &m_dev; }
    CTable_WiFiSensorDB* GetPicDB() { return &m_pic; }
    CTable_WiFiSensorDB* GetLumoDB() { return &m_lumo; }
    CTable_WiFiSensorDB* GetNetDB() { return &m_net; }
    CTable_WiFiSensorDB* GetTableDB() { return &m_table; }
    CTable_WiFiSensorDB* GetTreeDB() { return &m_tree; }

    // Builds the six heads, one log line each.
    void InitAllDB();
    // Empties heads and rows of every table; the counts stay.
    void ClearAllMem();

    // Plain fields: callers keep them equal to the tables' row counts.
    int m_totalCount = 0;
    int m_realCount = 0;

  private:
    // Declaration order is construction order; destruction runs Tree first.
    CTable_WiFiSensorDB m_dev, m_pic, m_lumo, m_net, m_table, m_tree;
};

// The value of a cell; fallback when the row or the column is missing.
template <typename T>
T CellValue(const CTable_WiFiSensorDB* table, int row, const char* column, T fallback = T{}) {
    T value = fallback;
    if (table == nullptr || row < 0 || row >= table->GetRowCount() ||
        table->GetRow(row)->GetValue(column, value) != 1)
        return fallback;
    return value;
}

// In-use sensors that every given table has a row for.
template <typename... Tables> int InUseCount(const CWiFiSensorDatabase& db, const Tables*... tables) {
    return std::max(0, std::min({db.m_realCount, tables->GetRowCount()...}));
}

} // namespace hygro
